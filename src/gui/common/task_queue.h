#pragma once
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace lyr {

// The windows' queue of short tasks (recorder commands, burner tool calls)
// run away from the GUI thread, one at a time in the order they were posted.
// The application owns the queues and the windows post to them, so that no
// window waits on a task to close. A task copies what it needs and hands its
// result back on its own: the windows post it to the application object,
// guarded by a QPointer to the window, which may be gone by then. The
// destructor runs the tasks still queued (a queued write is never dropped),
// then joins; the application does that at exit, off the GUI thread, after
// the recorder is released. A long operation with progress, cancel and
// questions runs on a JobRunner instead.
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
