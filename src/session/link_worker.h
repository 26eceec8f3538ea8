#pragma once
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace lyr {

// Runs recorder commands away from the thread that shows the recorder, one
// job at a time in the order they were posted. A job hands its result back
// on its own (the windows post it to their thread). The destructor runs the
// jobs still queued (a queued write is never dropped), then joins; each job
// is bounded by the link's reply bound.
class LinkWorker {
 public:
  LinkWorker();
  ~LinkWorker();
  LinkWorker(const LinkWorker&) = delete;
  LinkWorker& operator=(const LinkWorker&) = delete;

  void Post(std::function<void()> job);

 private:
  void Run();

  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::function<void()>> jobs_;
  bool stopping_ = false;
  std::thread thread_;  // last: started when the rest is ready
};

}  // namespace lyr
