// lyr-screenshots: renders lyr-manager's windows to PNG files for review
// without a desktop (run offscreen by scripts/screenshots.sh, with the demo
// stand-in published in a private sysfs tree). Given the stand-in's pid it
// also unplugs it (SIGUSR1) for the not-connected frame.
#include <signal.h>

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <functional>

#include "burn/burner_tools.h"
#include "gui/burn/burn_audio_page.h"
#include "gui/burn/burn_data_page.h"
#include "gui/burn/copy_burn_panel.h"
#include "gui/common/task_queue.h"
#include "gui/frame/about_box.h"
#include "gui/frame/app_state.h"
#include "gui/frame/main_frame.h"
#include "gui/playback/player_view.h"
#include "gui/playback/recording_list.h"
#include "link/recorder_link.h"
#include "link/recorder_watcher.h"
#include "playback/player_buffer.h"
#include "settings/recorder_model.h"

namespace {

bool WaitUntil(const std::function<bool()>& done, int ms) {
  QElapsedTimer timer;
  timer.start();
  while (!done()) {
    if (timer.elapsed() > ms) return false;
    QApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  return true;
}

void Settle() {
  QElapsedTimer timer;
  timer.start();
  while (timer.elapsed() < 300) QApplication::processEvents(QEventLoop::AllEvents, 20);
}

int g_failures = 0;

void Save(QWidget* widget, const QDir& dir, const QString& name) {
  const QString path = dir.filePath(name + ".png");
  if (!widget->grab().save(path)) {
    std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
    ++g_failures;
    return;
  }
  std::printf("%s\n", qPrintable(path));
}

// The Copy/Burn panel with a layout of folders, with tracks, and its
// "Burning" dialog mid-job (the burn is then cancelled).
void SaveCopyBurnPanel(lyr::CMainFrame& frame, const QDir& dir) {
  auto* panel = qobject_cast<lyr::CCopyBurnPanel*>(frame.CopyBurnPanel());
  if (panel == nullptr) return;
  frame.Actions().copy_burn->trigger();
  lyr::CDlgBurnData* data = panel->DataPage();
  lyr::CDlgBurnAudio* audio = panel->AudioPage();
  WaitUntil([&] { return panel->ScanCount() > 0; }, 10000);

  lyr::CListCtrlBurnData* list = data->Layout();
  int added = 0;
  QObject::connect(data, &lyr::CDlgBurnData::recordingsAdded, [&](int) { ++added; });
  for (const char* name : {"Interviews", "Notes"}) {
    list->NewFolder();
    QTreeWidgetItem* row = list->currentItem();
    list->closePersistentEditor(row, 0);
    row->setText(0, name);
  }
  data->OpenFolder("Interviews");
  panel->AddRecordings({1, 5});
  WaitUntil([&] { return added == 1; }, 10000);
  data->OpenFolder("/");
  panel->AddRecordings({2, 3, 4});
  WaitUntil([&] { return added == 2; }, 10000);
  Settle();
  Save(panel, dir, "burn-data");

  panel->Tabs()->setCurrentWidget(audio);
  int tracks = 0;
  QObject::connect(audio, &lyr::CDlgBurnAudio::recordingsAdded, [&](int) { ++tracks; });
  panel->AddRecordings({1, 2, 3, 4});
  WaitUntil([&] { return tracks == 1; }, 10000);
  Settle();
  Save(panel, dir, "burn-audio");

  // The dialog runs modally inside the Burn handler: a timer starts it,
  // saves it once the writer writes, and stops the burn.
  bool saved = false;
  QElapsedTimer writing;
  QTimer driver;
  driver.setInterval(20);
  QObject::connect(&driver, &QTimer::timeout, [&] {
    lyr::CBurnProgressDlg* dlg = audio->ProgressDialog();
    if (dlg == nullptr || saved) return;
    if (!dlg->IsRunning()) {
      dlg->findChild<QPushButton*>("button")->click();
      return;
    }
    if (dlg->findChild<QProgressBar*>("progress")->value() == 0) return;
    if (!writing.isValid()) writing.start();
    if (writing.elapsed() < 400) return;
    Save(dlg, dir, "burn-progress");
    saved = true;
    panel->Stop();
  });
  driver.start();
  audio->BurnButton()->click();
  WaitUntil([&] { return saved && !panel->IsBusy(); }, 60000);
  if (!saved) {
    std::fprintf(stderr, "the burn did not get under way\n");
    ++g_failures;
  }
  panel->hide();
}

// The window playing the first demo recording: the playing mark, the
// waveform around the position, the level meter.
void SavePlaying(lyr::CMainFrame& frame, const QDir& dir) {
  auto* view = frame.findChild<lyr::CPlayerView*>();
  if (view == nullptr || !WaitUntil([&] { return view->List()->Model()->rowCount() > 0; }, 10000)) {
    std::fprintf(stderr, "no play list to play from\n");
    ++g_failures;
    return;
  }
  view->PlayItem(0);
  if (!WaitUntil([&] { return view->PlayState() == lyr::CPlayerView::State::kPlaying; }, 10000)) {
    std::fprintf(stderr, "the first recording did not play\n");
    ++g_failures;
    return;
  }
  WaitUntil([] { return false; }, 4000);  // the position moves on, the strip fills
  Save(&frame, dir, "main-playing");
  view->StopPlayback();
}

// The delete question over the window: two recordings ticked by playing
// them, a third highlighted; the question names it and the ticked ones it
// leaves alone. Answered No.
void SaveDeleteQuestion(lyr::CMainFrame& frame, const QDir& dir) {
  auto* view = frame.findChild<lyr::CPlayerView*>();
  if (view == nullptr || view->List()->Model()->rowCount() < 4) return;
  lyr::CRecordingListModel* model = view->List()->Model();
  model->SetCheck(1, true);
  model->SetCheck(2, true);
  view->List()->selectRow(model->rowCount() - 1);
  bool saved = false;
  QTimer driver;
  driver.setInterval(50);
  QObject::connect(&driver, &QTimer::timeout, [&] {
    auto* box = frame.findChild<QMessageBox*>("deleteQuestion");
    if (box == nullptr || !box->isVisible() || saved) return;
    saved = true;
    QTimer::singleShot(300, box, [&frame, box, &dir] {
      Save(&frame, dir, "main-delete-question-window");
      Save(box, dir, "delete-question");
      box->button(QMessageBox::No)->click();
    });
  });
  driver.start();
  view->OnDelete();
  if (!saved) {
    std::fprintf(stderr, "the delete question was not seen\n");
    ++g_failures;
  }
  model->SetCheck(1, false);
  model->SetCheck(2, false);
}

// A start without a recorder: the window with its empty state.
void SaveNoRecorder(const QDir& dir) {
  lyr::AppState app;
  lyr::RecorderLink link;
  lyr::RecorderModel model;
  lyr::LinkEvents events;
  lyr::TaskQueue worker;
  lyr::CMainFrame frame(lyr::FrameServices{app, link, model, nullptr, worker, events});
  if (!frame.OnCreate()) return;
  frame.resize(1024, 680);
  frame.show();
  frame.OnConnectionChanged(lyr::ConnectionReport{});
  Settle();
  Save(&frame, dir, "main-no-recorder");
}

}  // namespace

int main(int argc, char** argv) {
  QApplication qt(argc, argv);
  if (argc < 2) {
    std::fprintf(stderr, "usage: lyr-screenshots OUTDIR [STAND-IN-PID]\n");
    return 2;
  }
  const QDir dir(argv[1]);
  QDir().mkpath(dir.path());
  const pid_t stand_in = argc > 2 ? static_cast<pid_t>(std::atoi(argv[2])) : 0;

  lyr::AppState app;
  lyr::RecorderLink link;
  lyr::RecorderModel model;
  lyr::RecorderWatcher watcher(link);
  lyr::LinkEvents events;
  lyr::TaskQueue worker;  // after events: its last jobs still report
  lyr::burn::BurnerTools burner;
  lyr::TaskQueue tool_worker;  // after the tools: joined before they go
  // Played on the null back end's real-time clock: no sound device needed.
  if (qEnvironmentVariableIsEmpty("LYR_AUDIO")) qputenv("LYR_AUDIO", "null");
  std::unique_ptr<lyr::PlayerBuffer> player_buffer = lyr::PlayerBuffer::BuffMgrCreate(link);
  lyr::TaskQueue player_worker;  // after the buffer: joined before it goes
  {
    lyr::CMainFrame frame(lyr::FrameServices{app, link, model, &watcher, worker, events, &burner,
                                             player_buffer.get(), &tool_worker, &player_worker});
    if (!frame.OnCreate()) return 1;
    frame.resize(1024, 680);
    frame.show();
    if (!WaitUntil([&] { return frame.ConnectionText() == "LYR Connected"; }, 15000)) {
      std::fprintf(stderr, "the demo recorder did not connect\n");
      ++g_failures;
    }
    Settle();
    Save(&frame, dir, "main-connected");
    SavePlaying(frame, dir);
    // The panel and the pages on their own come from lyr-ui-screenshots.
    lyr::CAboutBox about(&frame);
    about.show();
    Settle();
    Save(&about, dir, "about");
    about.hide();
    SaveCopyBurnPanel(frame, dir);
    SaveDeleteQuestion(frame, dir);

    if (stand_in > 0) {
      // Unplugged while playing: the window stays and says what happened.
      auto* view = frame.findChild<lyr::CPlayerView*>();
      if (view != nullptr) {
        view->PlayItem(0);
        WaitUntil([&] { return view->PlayState() == lyr::CPlayerView::State::kPlaying; }, 10000);
      }
      ::kill(stand_in, SIGUSR1);
      if (!WaitUntil([&] { return frame.ConnectionText() == "No LYR found"; }, 15000)) {
        std::fprintf(stderr, "the unplug was not seen\n");
        ++g_failures;
      }
      QWidget* notice = nullptr;
      WaitUntil(
          [&] {
            notice = frame.findChild<QWidget*>("unplugNoticeBox");
            return notice != nullptr && notice->isVisible();
          },
          5000);
      if (notice != nullptr) {
        Settle();
        Save(notice, dir, "unplug-notice");
        notice->close();
      } else {
        std::fprintf(stderr, "no unplug notice\n");
        ++g_failures;
      }
      frame.showNormal();
      frame.resize(1024, 680);
      Settle();
      Save(&frame, dir, "main-not-connected");
    }
  }
  watcher.StopWatcher();
  SaveNoRecorder(dir);
  return g_failures == 0 ? 0 : 1;
}
