#pragma once
#include <chrono>
#include <condition_variable>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <vector>

namespace lyr {

// A manual- or auto-reset event with the semantics of a Windows event object.
// Events can be waited for together with WaitAny; the order of the set decides
// which one wins when several are signalled.
class Event {
 public:
  enum class Reset { Manual, Auto };
  explicit Event(Reset reset = Reset::Manual, bool initially_signalled = false);
  ~Event();
  Event(const Event&) = delete;
  Event& operator=(const Event&) = delete;

  void Set();
  void ResetEvent();
  bool IsSet() const;
  // Waits until signalled or the timeout passes; true when signalled.
  bool Wait(std::chrono::milliseconds timeout = kInfinite);

  static constexpr std::chrono::milliseconds kInfinite{-1};

 private:
  friend int WaitAny(std::initializer_list<Event*> events, std::chrono::milliseconds timeout);
  struct Waiter;
  bool TryConsumeLocked();

  const Reset reset_;
  bool signalled_;
  mutable std::mutex mutex_;
  std::condition_variable cv_;
  // WaitAny calls blocked on this event among others.
  std::vector<Waiter*> waiters_;
};

// Waits until one of the events is signalled and returns its index in the list
// (the lowest index wins when several are signalled; an auto-reset event that
// wins is reset), or -1 on timeout.
int WaitAny(std::initializer_list<Event*> events,
            std::chrono::milliseconds timeout = Event::kInfinite);

}  // namespace lyr
