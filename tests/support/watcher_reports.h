#pragma once
// The reports of a running RecorderWatcher, collected for the test thread.
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <utility>

#include "link/recorder_watcher.h"

namespace lyr_test {

class WatcherReports {
 public:
  lyr::RecorderWatcher::Report Sink() {
    return [this](int connected, int status) {
      std::lock_guard lock(mutex_);
      reports_.emplace_back(connected, status);
      cv_.notify_all();
    };
  }
  // The next (connected, status) report, or (-9, -9) when none came in time.
  std::pair<int, int> Next(std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
    std::unique_lock lock(mutex_);
    if (!cv_.wait_for(lock, timeout, [this] { return !reports_.empty(); })) return {-9, -9};
    auto r = reports_.front();
    reports_.pop_front();
    return r;
  }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  std::deque<std::pair<int, int>> reports_;
};

}  // namespace lyr_test
