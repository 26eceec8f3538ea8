#pragma once
#include <memory>

#include "gui/frame/app_state.h"

namespace lyr {

class CMainFrame;
class LinkEvents;
class TaskQueue;
class PlayerBuffer;
class RecorderLink;
class RecorderModel;
class RecorderWatcher;
class SingleInstance;
namespace burn {
class BurnerTools;
}

// The application object: brings the program up (single instance, cfgfile.ini,
// temporary folder, administrator flag, the recorder link and model, the
// frame) and down again.
class CLyrApp {
 public:
  // How long shutdown waits for the link threads before the process ends
  // without them (a recorder that stopped answering mid-exchange).
  static constexpr int kShutdownWaitMs = 3000;

  CLyrApp();
  ~CLyrApp();
  CLyrApp(const CLyrApp&) = delete;
  CLyrApp& operator=(const CLyrApp&) = delete;

  // True when the main window is up; false to end at once (another copy
  // runs, or the frame could not be made).
  bool InitInstance();
  // After the event loop: Temp_Path written, the link threads stopped within
  // kShutdownWaitMs, the templates saved. Returns the exit code.
  int ExitInstance(int code);

  AppState& State() { return state_; }
  CMainFrame* Frame() { return frame_.get(); }

 private:
  AppState state_;
  std::unique_ptr<SingleInstance> instance_;
  std::unique_ptr<RecorderLink> link_;
  std::unique_ptr<RecorderModel> model_;
  std::unique_ptr<RecorderWatcher> watcher_;
  std::unique_ptr<LinkEvents> events_;
  std::unique_ptr<TaskQueue> worker_;
  std::unique_ptr<TaskQueue> tool_worker_;    // the burner tool calls
  std::unique_ptr<TaskQueue> player_worker_;  // playback's starts, seeks and stops
  std::unique_ptr<PlayerBuffer> player_buffer_;
  std::unique_ptr<burn::BurnerTools> burner_;  // the Copy/Burn panel's tool runner
  std::unique_ptr<CMainFrame> frame_;
};

}  // namespace lyr
