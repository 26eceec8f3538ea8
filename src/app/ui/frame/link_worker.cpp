#include "app/ui/frame/link_worker.h"

namespace lyr {

LinkWorker::LinkWorker() : thread_(&LinkWorker::ThreadMain, this) {}

LinkWorker::~LinkWorker() { Stop(); }

bool LinkWorker::Post(std::function<void()> job) {
  {
    std::lock_guard lock(mutex_);
    if (stop_) return false;
    jobs_.push_back(std::move(job));
  }
  wake_.notify_one();
  return true;
}

void LinkWorker::Stop() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
    jobs_.clear();
  }
  wake_.notify_one();
  if (thread_.joinable()) thread_.join();
}

bool LinkWorker::Busy() const {
  std::lock_guard lock(mutex_);
  return running_job_ || !jobs_.empty();
}

void LinkWorker::ThreadMain() {
  std::unique_lock lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return stop_ || !jobs_.empty(); });
    if (stop_) return;
    std::function<void()> job = std::move(jobs_.front());
    jobs_.pop_front();
    running_job_ = true;
    lock.unlock();
    job();
    lock.lock();
    running_job_ = false;
  }
}

}  // namespace lyr
