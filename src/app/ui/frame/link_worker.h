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
// GUI thread itself (by a queued signal); it never touches a widget. The
// destructor runs the jobs still queued, then joins.
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
