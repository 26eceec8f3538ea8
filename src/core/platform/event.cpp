#include "platform/event.h"

#include <algorithm>
#include <vector>

namespace lyr {

// One blocked WaitAny call, registered with every event it waits for.
struct Event::Waiter {
  std::mutex mutex;
  std::condition_variable cv;
  bool woken = false;
};

Event::Event(Reset reset, bool initially_signalled) : reset_(reset), signalled_(initially_signalled) {}
Event::~Event() = default;

void Event::Set() {
  std::lock_guard lock(mutex_);
  signalled_ = true;
  cv_.notify_all();
  for (Waiter* w : waiters_) {
    std::lock_guard wl(w->mutex);
    w->woken = true;
    w->cv.notify_all();
  }
}

void Event::ResetEvent() {
  std::lock_guard lock(mutex_);
  signalled_ = false;
}

bool Event::IsSet() const {
  std::lock_guard lock(mutex_);
  return signalled_;
}

bool Event::TryConsumeLocked() {
  if (!signalled_) return false;
  if (reset_ == Reset::Auto) signalled_ = false;
  return true;
}

bool Event::Wait(std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  if (timeout.count() < 0) {
    cv_.wait(lock, [this] { return signalled_; });
  } else if (!cv_.wait_for(lock, timeout, [this] { return signalled_; })) {
    return false;
  }
  TryConsumeLocked();
  return true;
}

int WaitAny(std::initializer_list<Event*> events, std::chrono::milliseconds timeout) {
  const bool infinite = timeout.count() < 0;
  const auto deadline = std::chrono::steady_clock::now() + (infinite ? std::chrono::milliseconds(0) : timeout);
  Event::Waiter waiter;
  const std::vector<Event*> list(events);
  for (Event* e : list) {
    std::lock_guard lock(e->mutex_);
    e->waiters_.push_back(&waiter);
  }
  int result = -1;
  for (;;) {
    {
      std::lock_guard wl(waiter.mutex);
      waiter.woken = false;
    }
    for (size_t i = 0; i < list.size() && result < 0; ++i) {
      std::lock_guard lock(list[i]->mutex_);
      if (list[i]->TryConsumeLocked()) result = static_cast<int>(i);
    }
    if (result >= 0) break;
    std::unique_lock wl(waiter.mutex);
    if (infinite) {
      waiter.cv.wait(wl, [&] { return waiter.woken; });
    } else if (!waiter.cv.wait_until(wl, deadline, [&] { return waiter.woken; })) {
      break;
    }
  }
  for (Event* e : list) {
    std::lock_guard lock(e->mutex_);
    e->waiters_.erase(std::remove(e->waiters_.begin(), e->waiters_.end(), &waiter), e->waiters_.end());
  }
  return result;
}

}  // namespace lyr
