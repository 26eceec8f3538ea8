#pragma once
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace lyr {

// The thread that talks to the recorder for the frame: the connection
// sequence and Safely Remove run here, one job after the other, so the GUI
// thread never waits for the recorder. A job hands its outcome back to the
// GUI thread itself (by a queued call); it never touches a widget.
class LinkWorker {
 public:
  LinkWorker();
  ~LinkWorker();  // Stop
  LinkWorker(const LinkWorker&) = delete;
  LinkWorker& operator=(const LinkWorker&) = delete;

  // Queues a job; false once the worker is stopping.
  bool Post(std::function<void()> job);
  // Jobs not yet started are dropped; the running one ends, then the thread
  // is joined.
  void Stop();
  // True while a job runs or waits.
  bool Busy() const;

 private:
  void ThreadMain();

  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::function<void()>> jobs_;
  bool running_job_ = false;
  bool stop_ = false;
  std::thread thread_;
};

}  // namespace lyr
