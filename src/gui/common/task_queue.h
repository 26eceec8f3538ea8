#pragma once
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace lyr {

// The windows' queue of short tasks (recorder commands, burner tool calls)
// run away from the GUI thread, one at a time in the order they were posted.
// A task hands its result back on its own (the windows post it to their
// thread). The destructor runs the tasks still queued (a queued write is
// never dropped), then joins; each recorder command is bounded by the link's
// reply bound. A long operation with progress, cancel and questions runs on
// a JobRunner instead.
class TaskQueue {
 public:
  TaskQueue();
  ~TaskQueue();
  TaskQueue(const TaskQueue&) = delete;
  TaskQueue& operator=(const TaskQueue&) = delete;

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
