// A data disc and an audio CD burnt through the main window: "Copy / Burn"
// opens the panel, the recordings of the demo stand-in recorder are added
// as "Add to Burn-list" adds them, "Burn" checks the disc in the stand-in
// disc writer and the "Burning" dialog runs the job. What the writer
// received is read back.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTimer>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "burn/burner_tools.h"
#include "gui/burn/burn_audio_page.h"
#include "gui/burn/burn_data_page.h"
#include "gui/burn/copy_burn_panel.h"
#include "gui/common/task_queue.h"
#include "gui/frame/main_frame.h"
#include "gui/playback/player_view.h"
#include "gui/playback/recording_list.h"
#include "gui/transfer/copy_hdd_page.h"
#include "gui/transfer/transfer_commands.h"
#include "playback/player_buffer.h"
#include "settings/recorder_model.h"
#include "support/command_output.h"
#include "support/emulated_recorder.h"
#include "support/qt_env.h"
#include "support/temp_dir.h"

namespace lyr {
namespace {

namespace fs = std::filesystem;
using lyr_test::CommandOutput;
using lyr_test::WaitFor;

std::string Slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// Runs the "Burning" dialog when it comes: Start, then Finish once the job
// has ended; every message box is answered and kept.
struct BurningDriver {
  BurningDriver() {
    timer.setInterval(10);
    QObject::connect(&timer, &QTimer::timeout, [this] {
      QWidget* w = QApplication::activeModalWidget();
      if (auto* box = qobject_cast<QMessageBox*>(w)) {
        boxes << box->text();
        box->button(box->button(QMessageBox::Ok) != nullptr ? QMessageBox::Ok
                    : answer_yes                            ? QMessageBox::Yes
                                                            : QMessageBox::No)
            ->click();
      } else if (auto* dlg = qobject_cast<CBurnProgressDlg*>(w)) {
        auto* button = dlg->findChild<QPushButton*>("button");
        if (!dlg->IsRunning()) {
          button->click();
        } else if (!dlg->IsActive() && finish) {
          log = dlg->findChild<QPlainTextEdit*>("log")->toPlainText();
          burned = dlg->Result().burned;
          button->click();
        }
      }
    });
    timer.start();
  }
  QTimer timer;
  bool finish = true;  // false: the dialog is left to the program's closing
  bool answer_yes = false;
  QStringList boxes;
  QString log;
  bool burned = false;
};

// The stand-in disc writer with one writer and `disc` in it, the demo
// stand-in recorder in process, and the main window over both (with the
// player view, its play list and copy command when `player`).
struct WindowRig {
  explicit WindowRig(const std::string& disc, bool player = false) {
    for (const fs::path& p : {state, temp, sysfs / "block"}) fs::create_directories(p);
    std::ofstream(state / "drives.txt") << "0,0,0 'HL-DT-ST' 'DVDRAM GH22NS50' 0x1FFF 0x1FEE\n";
    SetDisc(disc);
    ::setenv("LYR_BURN_EMU_STATE", state.c_str(), 1);
    ::setenv("LYR_CDRECORD", (std::string(LYR_BURN_EMU_BIN) + "/cdrecord").c_str(), 1);
    ::setenv("LYR_MKISOFS", "/usr/bin/genisoimage", 1);
    ::setenv("LYR_SYSFS_ROOT", sysfs.c_str(), 1);
    if (!lyr_emu::AddDemoRecordings(recorder.store())) ADD_FAILURE() << "demo recordings";
    link = recorder.MakeLink();
    app.temp_folder = temp.string();
    if (player) {
      ::setenv("LYR_AUDIO", "null", 1);
      buffer = PlayerBuffer::BuffMgrCreate(*link);
    }
    frame = std::make_unique<CMainFrame>(FrameServices{app, *link, model, nullptr, worker, events, &tools,
                                                       buffer.get(), &tool_worker, &player_worker});
    if (!frame->OnCreate()) ADD_FAILURE() << "OnCreate";
    frame->show();
    panel = qobject_cast<CCopyBurnPanel*>(frame->CopyBurnPanel());
  }
  ~WindowRig() {
    frame.reset();
    link->CloseDrive();
  }
  void SetDisc(const std::string& text) const { std::ofstream(state / "disc-0,0,0.txt") << text; }
  void ExpectTempEmpty() const {
    for (const auto& e : fs::directory_iterator(temp))
      ADD_FAILURE() << "left in the temporary folder: " << e.path();
  }

  lyr_test::TempDir dir;
  const fs::path state = dir / "writer", temp = dir / "temp", sysfs = dir / "sys";
  lyr_test::EmulatedRecorder recorder;
  std::unique_ptr<RecorderLink> link;
  AppState app;
  RecorderModel model;
  LinkEvents events;
  TaskQueue worker;
  burn::BurnerTools tools;
  TaskQueue tool_worker;  // after the tools: joined before they go
  std::unique_ptr<PlayerBuffer> buffer;
  TaskQueue player_worker;  // after the buffer: joined before it goes
  std::unique_ptr<CMainFrame> frame;
  CCopyBurnPanel* panel = nullptr;
};

constexpr char kBlankCd[] = "kind=CD-R\nblank=1\nfree=359849\n";

TEST(BurnThroughTheWindow, DataDiscAndAudioCd) {
  WindowRig rig(kBlankCd);
  CMainFrame& frame = *rig.frame;
  CCopyBurnPanel* panel = rig.panel;
  const fs::path& state = rig.state;
  lyr_test::EmulatedRecorder& recorder = rig.recorder;
  std::map<uint32_t, std::string> names;
  for (const auto& [entry, rec] : recorder.store().recordings()) {
    RecordingRecord record(rec.record);
    names[entry] = record.Name().substr(0, record.Name().rfind('.'));
  }
  ASSERT_GE(names.size(), 4u);

  {
    ASSERT_NE(panel, nullptr);
    EXPECT_FALSE(panel->isVisible());
    frame.Actions().copy_burn->trigger();
    EXPECT_TRUE(panel->isVisible());
    CDlgBurnData* data = panel->DataPage();
    ASSERT_TRUE(WaitFor([&] { return data->DriveCombo()->count() == 1; }));
    // "Close all" leaves the panel alone.
    frame.Actions().close_all->trigger();
    EXPECT_TRUE(panel->isVisible());

    // The layout: /Music/<1>, /Music/<2>, /<3>.
    panel->Tabs()->setCurrentIndex(0);
    data->findChild<QAction*>("newFolder")->trigger();
    CListCtrlBurnData* list = data->Layout();
    list->closePersistentEditor(list->topLevelItem(0), 0);
    list->topLevelItem(0)->setText(0, "Music");
    emit list->itemDoubleClicked(list->topLevelItem(0), 0);
    QSignalSpy added(data, &CDlgBurnData::recordingsAdded);
    panel->AddRecordings({1, 2});
    ASSERT_TRUE(WaitFor([&] { return added.size() == 1; }));
    data->findChild<QAction*>("folderUp")->trigger();
    panel->AddRecordings({3, 3});  // the second is refused: the folder holds it
    ASSERT_TRUE(WaitFor([&] { return added.size() == 2; }));
    EXPECT_EQ(added[1][0].toInt(), 1);
    data->findChild<QLineEdit*>("volumeLabel")->setText("LYR DISC");
    data->findChild<QCheckBox*>("outputSha1")->setChecked(true);
    {
      BurningDriver driver;
      QSignalSpy finished(data, &CKVBBurnPage::burnFinished);
      ASSERT_TRUE(data->BurnButton()->isEnabled());
      data->BurnButton()->click();
      ASSERT_TRUE(WaitFor([&] { return finished.size() == 1; }, std::chrono::seconds(60)));
      EXPECT_TRUE(driver.burned) << driver.log.toStdString() << driver.boxes.join("\n").toStdString();
      EXPECT_EQ(driver.boxes, QStringList{"Burned successfully!"});
    }
    const fs::path iso = state / "burned" / "0,0,0" / "image.iso";
    ASSERT_TRUE(fs::exists(iso));
    EXPECT_NE(CommandOutput("isoinfo -d -i '" + iso.string() + "'").find("Volume id: LYR DISC"),
              std::string::npos);
    const fs::path back = rig.dir / "readback";
    CommandOutput("osirrox -indev '" + iso.string() + "' -extract / '" + back.string() + "' 2>/dev/null");
    const std::map<uint32_t, std::string> placed = {
        {1, "Music/" + names[1]}, {2, "Music/" + names[2]}, {3, names[3]}};
    size_t files = 0;
    for (const auto& e : fs::recursive_directory_iterator(back))
      if (e.is_regular_file()) ++files;
    EXPECT_EQ(files, 6u);
    for (const auto& [entry, at] : placed) {
      SCOPED_TRACE(at);
      const std::string wave = Slurp(back / (at + ".wav"));
      ASSERT_GT(wave.size(), 44u);
      EXPECT_EQ(wave.substr(0, 4), "RIFF");
      const std::string sum = CommandOutput("sha1sum '" + (back / (at + ".wav")).string() + "' | cut -c1-40");
      EXPECT_EQ(Slurp(back / (at + ".txt")).substr(0, 40), sum.substr(0, 40));
      EXPECT_TRUE(recorder.store().Find(entry)->copied);
    }
    rig.ExpectTempEmpty();

    // The audio CD: two tracks on a full CD-RW, erased after the question.
    rig.SetDisc("kind=CD-RW\nblank=0\nfree=0\n");
    panel->Tabs()->setCurrentIndex(1);
    CDlgBurnAudio* audio = panel->AudioPage();
    QSignalSpy tracks(audio, &CDlgBurnAudio::recordingsAdded);
    panel->AddRecordings({2, 4});
    ASSERT_TRUE(WaitFor([&] { return tracks.size() == 1; }));
    ASSERT_EQ(audio->TrackCount(), 2);
    {
      BurningDriver driver;
      driver.answer_yes = true;
      QSignalSpy finished(audio, &CKVBBurnPage::burnFinished);
      audio->BurnButton()->click();
      ASSERT_TRUE(WaitFor([&] { return finished.size() == 1; }, std::chrono::seconds(60)));
      EXPECT_TRUE(driver.burned) << driver.log.toStdString() << driver.boxes.join("\n").toStdString();
      ASSERT_EQ(driver.boxes.size(), 2);
      EXPECT_TRUE(driver.boxes[0].startsWith("The disk is rewritable, Are you sure to ease the disk?"));
      EXPECT_EQ(driver.boxes[1], "Burned successfully!");
    }
    // Each track holds its recording's seconds of 44.1 kHz stereo, in whole sectors.
    const uint32_t seconds[] = {audio->Tracks()->topLevelItem(0)->text(1).mid(6).toUInt(),
                                audio->Tracks()->topLevelItem(1)->text(1).mid(6).toUInt()};
    for (int t = 0; t < 2; ++t) {
      const fs::path track = state / "burned" / "0,0,0" / (std::string("track0") + char('1' + t) + ".cdda");
      ASSERT_TRUE(fs::exists(track)) << track;
      const uint64_t size = fs::file_size(track);
      EXPECT_EQ(size % 2352, 0u);
      EXPECT_NEAR(static_cast<double>(size), seconds[t] * 176400.0, 2352.0 + 176400.0 * 0.05) << t;
    }
    rig.ExpectTempEmpty();
    frame.hide();
  }
}

TEST(BurnThroughTheWindow, ClosingTheProgramCancelsTheBurnAndWaitsForIt) {
  // The writer stops answering once it has started writing, until SIGINT.
  WindowRig rig(std::string(kBlankCd) + "fault=hang\n");
  CMainFrame& frame = *rig.frame;
  CCopyBurnPanel* panel = rig.panel;
  {
    QSignalSpy exit_ready(&frame, &CMainFrame::exitReady);
    frame.Actions().copy_burn->trigger();
    CDlgBurnData* data = panel->DataPage();
    ASSERT_TRUE(WaitFor([&] { return data->DriveCombo()->count() == 1; }));
    QSignalSpy added(data, &CDlgBurnData::recordingsAdded);
    panel->AddRecordings({4});
    ASSERT_TRUE(WaitFor([&] { return added.size() == 1; }));

    BurningDriver driver;
    driver.finish = false;
    // Once the writer runs (and hangs), the program is closed. The check
    // runs in the dialog's modal loop, so it is a timer's.
    QElapsedTimer clock;
    bool busy_at_exit = false;
    QTimer closer;
    closer.setInterval(20);
    QObject::connect(&closer, &QTimer::timeout, [&] {
      CBurnProgressDlg* dlg = data->ProgressDialog();
      if (clock.isValid() || dlg == nullptr ||
          !dlg->findChild<QPlainTextEdit*>("log")->toPlainText().contains("Burning ..."))
        return;
      clock.start();
      frame.RequestExit();
      busy_at_exit = panel->IsBusy();  // the closing waits for the job
    });
    closer.start();
    data->BurnButton()->click();
    ASSERT_TRUE(WaitFor([&] { return exit_ready.size() == 1; }, std::chrono::seconds(30)));
    EXPECT_TRUE(busy_at_exit);
    EXPECT_LT(clock.elapsed(), 5000);
    EXPECT_FALSE(panel->IsBusy());
    EXPECT_FALSE(panel->isVisible());
    EXPECT_EQ(data->ProgressDialog(), nullptr);
    EXPECT_TRUE(driver.boxes.isEmpty()) << driver.boxes.join("\n").toStdString();
    EXPECT_FALSE(rig.recorder.store().Find(4)->copied);
    EXPECT_FALSE(fs::exists(rig.state / "burned" / "0,0,0" / "image.iso"));
  }
  rig.ExpectTempEmpty();
}

// The recorder leaves while the writer writes: the writer no longer needs
// it, so the disc is finished; the copied marks fail, and the window, still
// where it was, says why.
TEST(BurnThroughTheWindow, UnpluggingWhileWritingFinishesTheDisc) {
  WindowRig rig(std::string(kBlankCd) + "track_delay_ms=1500\n");
  CMainFrame& frame = *rig.frame;
  CCopyBurnPanel* panel = rig.panel;
  frame.Actions().copy_burn->trigger();
  panel->Tabs()->setCurrentIndex(1);
  CDlgBurnAudio* audio = panel->AudioPage();
  ASSERT_TRUE(WaitFor([&] { return audio->DriveCombo()->count() == 1; }));
  QSignalSpy tracks(audio, &CDlgBurnAudio::recordingsAdded);
  panel->AddRecordings({2});
  ASSERT_TRUE(WaitFor([&] { return tracks.size() == 1; }));

  BurningDriver driver;
  bool unplugged = false;
  QString progress_label;
  QTimer unplug;
  unplug.setInterval(20);
  QObject::connect(&unplug, &QTimer::timeout, [&] {
    CBurnProgressDlg* dlg = audio->ProgressDialog();
    if (unplugged || dlg == nullptr ||
        !dlg->findChild<QPlainTextEdit*>("log")->toPlainText().contains("Burning ..."))
      return;
    progress_label = dlg->findChild<QLabel*>("progressLabel")->text();
    rig.recorder.config().disconnect_after = 1;
    // What the watcher reports when the recorder's drive goes.
    frame.OnConnectionChanged(ConnectionReport{});
    unplugged = true;
  });
  unplug.start();
  QSignalSpy finished(audio, &CKVBBurnPage::burnFinished);
  audio->BurnButton()->click();
  ASSERT_TRUE(WaitFor([&] { return finished.size() == 1; }, std::chrono::seconds(60)));
  ASSERT_TRUE(unplugged);
  EXPECT_TRUE(progress_label.startsWith("Current step: ")) << progress_label.toStdString();
  EXPECT_TRUE(fs::exists(rig.state / "burned" / "0,0,0" / "track01.cdda"));
  EXPECT_FALSE(rig.recorder.store().Find(2)->copied);
  ASSERT_TRUE(WaitFor([&] { return driver.boxes.size() == 2; }, std::chrono::seconds(10)))
      << driver.boxes.join("\n").toStdString();
  EXPECT_EQ(driver.boxes[0], "Access LYR Failed!");
  EXPECT_TRUE(driver.boxes[1].contains("The disc was written")) << driver.boxes[1].toStdString();
  EXPECT_EQ(frame.ConnectionText(), "No LYR found");
  EXPECT_TRUE(frame.isVisible());
  EXPECT_FALSE(frame.isMinimized() || frame.IsHiddenInTray() || frame.IsClosing());
  rig.ExpectTempEmpty();
}

TEST(CopyThroughTheWindow, ClosingTheProgramCancelsTheCopyAndWaitsForIt) {
  WindowRig rig(kBlankCd, true);
  CMainFrame& frame = *rig.frame;
  auto* view = frame.findChild<CPlayerView*>();
  auto* hdd = frame.findChild<CDlgCopyHDD*>();
  auto* transfer = frame.findChild<CTransferCommands*>();
  ASSERT_TRUE(view != nullptr && hdd != nullptr && transfer != nullptr);
  const fs::path out = rig.dir / "out";
  fs::create_directories(out);
  hdd->OpenFolder(QString::fromStdString(out.string()));
  CRecordingListModel* rows = view->List()->Model();
  ASSERT_TRUE(WaitFor([&] { return rows->rowCount() >= 4 && !rows->Busy(); }));
  rig.recorder.config().slow_reply_ms = 30;  // each read answered late: the copy lasts
  view->SelectAllItems();
  const size_t chosen = static_cast<size_t>(rows->rowCount());

  QSignalSpy exit_ready(&frame, &CMainFrame::exitReady);
  QElapsedTimer clock;
  bool busy_at_exit = false;
  QTimer closer;
  closer.setInterval(20);
  // Once the first file is under way, the program is closed (from the
  // dialog's modal loop, as a timer).
  QObject::connect(&closer, &QTimer::timeout, [&] {
    QWidget* modal = QApplication::activeModalWidget();
    if (clock.isValid() || modal == nullptr || modal->objectName() != "progressDialog" ||
        modal->findChild<QProgressBar*>("fileBar")->value() == 0)
      return;
    clock.start();
    frame.RequestExit();
    busy_at_exit = transfer->IsBusy();
  });
  closer.start();
  view->OnCopy();  // returns once its dialog has ended
  const qint64 ended = clock.isValid() ? clock.elapsed() : -1;
  ASSERT_TRUE(WaitFor([&] { return exit_ready.size() == 1; }, std::chrono::seconds(30)));
  EXPECT_TRUE(busy_at_exit);
  EXPECT_GE(ended, 0);
  EXPECT_LT(ended, 5000);
  EXPECT_FALSE(transfer->IsBusy());
  // The job ended before the recorder was let go: it stopped as cancelled,
  // not on a failed read, and left only the files it finished.
  const std::vector<CopyResult>& results = transfer->LastCopyResults();
  ASSERT_FALSE(results.empty());
  EXPECT_EQ(results.back().outcome, CopyOutcome::Cancelled);
  size_t copied = 0;
  for (const CopyResult& r : results) {
    if (&r != &results.back()) {
      EXPECT_EQ(r.outcome, CopyOutcome::Copied) << r.name;
    }
    if (r.outcome == CopyOutcome::Copied) ++copied;
  }
  size_t files = 0;
  for (const auto& e : fs::directory_iterator(out)) {
    EXPECT_EQ(e.path().extension(), ".wav") << e.path();
    ++files;
  }
  EXPECT_EQ(files, copied);
  EXPECT_LT(copied, chosen);
}

}  // namespace
}  // namespace lyr
