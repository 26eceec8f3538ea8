#include "app/application.h"

#include <QApplication>
#include <chrono>
#include <cstdlib>
#include <future>
#include <thread>

#include "app/single_instance.h"
#include "burn/burner_tools.h"
#include "gui/common/task_queue.h"
#include "gui/frame/main_frame.h"
#include "link/recorder_link.h"
#include "link/recorder_watcher.h"
#include "platform/trace.h"
#include "playback/player_buffer.h"
#include "settings/config_path.h"
#include "settings/recorder_model.h"

namespace lyr {

CLyrApp::CLyrApp() = default;

CLyrApp::~CLyrApp() = default;

bool CLyrApp::InitInstance() {
  instance_ = std::make_unique<SingleInstance>();
  if (!instance_->Claim()) return false;

  state_.config_path = LocateConfigFile(ExecutablePath());
  Trace("app: configuration %s\n", state_.config_path.empty() ? "(none)" : state_.config_path.c_str());
  state_.command_rights = 0;
  state_.admin = IsAdministrator({});
  state_.command_rights = 0xFFFFFFFF;

  link_ = std::make_unique<RecorderLink>();
  model_ = std::make_unique<RecorderModel>();
  model_->LoadTemplates(state_.config_path);
  state_.temp_folder = ReadTempPath(state_.config_path, SystemTempFolder());

  watcher_ = std::make_unique<RecorderWatcher>(*link_);
  worker_ = std::make_unique<TaskQueue>();
  tool_worker_ = std::make_unique<TaskQueue>();
  player_worker_ = std::make_unique<TaskQueue>();
  events_ = std::make_unique<LinkEvents>();
  burner_ = std::make_unique<burn::BurnerTools>();
  // The player's buffer and its reader thread; without it nothing plays.
  player_buffer_ = PlayerBuffer::BuffMgrCreate(*link_);
  if (player_buffer_ == nullptr) Trace("app: the player buffer could not be made\n");
  frame_ = std::make_unique<CMainFrame>(FrameServices{state_, *link_, *model_, watcher_.get(), *worker_,
                                                      *events_, burner_.get(), player_buffer_.get(),
                                                      tool_worker_.get(), player_worker_.get()});
  if (!frame_->OnCreate()) return false;
  QObject::connect(instance_.get(), &SingleInstance::raiseRequested, frame_.get(),
                   &CMainFrame::RaiseFromSecondStart);
  QObject::connect(frame_.get(), &CMainFrame::exitReady, qApp, &QCoreApplication::quit, Qt::QueuedConnection);
  frame_->showMaximized();
  return true;
}

int CLyrApp::ExitInstance(int code) {
  WriteTempPath(state_.config_path, state_.temp_folder);
  frame_.reset();
  // The watcher and the worker end promptly unless an exchange hangs on a
  // recorder that stopped answering; then the process ends without them,
  // after saving what it keeps.
  auto stopped = std::async(std::launch::async, [this] {
    if (watcher_) watcher_->StopWatcher();
    player_worker_.reset();  // the closed view's last task stops the sound
    player_buffer_.reset();  // its reader may be in an exchange too
    worker_.reset();         // runs what is queued, then joins
    tool_worker_.reset();    // the disc checks were answered "No" with the panel
  });
  if (stopped.wait_for(std::chrono::milliseconds(kShutdownWaitMs)) != std::future_status::ready) {
    Trace("app: the recorder link did not stop in time\n");
    model_->SaveTemplates();
    std::_Exit(code);
  }
  stopped.get();
  burner_.reset();  // stops a tool still running
  watcher_.reset();
  events_.reset();
  model_.reset();  // saves the templates
  link_.reset();
  instance_.reset();
  return code;
}

}  // namespace lyr
