// The burn pages, their disc check against the stand-in disc writer's drives
// and discs, the layout list's label editing and the "Burning" dialog.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <QComboBox>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QSlider>
#include <QTabWidget>
#include <QTimer>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include "burn/disc_check.h"
#include "gui/burn/burn_audio_page.h"
#include "gui/burn/burn_data_page.h"
#include "gui/burn/copy_burn_panel.h"
#include "link/protocol.h"
#include "link/recorder_link.h"
#include "support/qt_env.h"
#include "gui/common/task_queue.h"
#include "support/temp_dir.h"

namespace lyr {
namespace {

namespace fs = std::filesystem;
using lyr_test::WaitFor;

struct Box {
  QString title;
  QString text;
  QMessageBox::Icon icon;
};

// Answers the modal boxes as they come (questions from `answers`, then No)
// and closes a "Burning" dialog before its job starts.
class Answerer {
 public:
  Answerer() {
    timer_.setInterval(10);
    QObject::connect(&timer_, &QTimer::timeout, [this] { Tick(); });
    timer_.start();
  }
  std::deque<QMessageBox::StandardButton> answers;
  std::vector<Box> seen;
  int burning_dialogs = 0;
  // Called on each tick while a "Burning" dialog is open; true closes it.
  std::function<bool(CBurnProgressDlg*)> on_burning;

 private:
  void Tick() {
    QWidget* w = QApplication::activeModalWidget();
    if (auto* box = qobject_cast<QMessageBox*>(w)) {
      seen.push_back({box->windowTitle(), box->text(), box->icon()});
      if (box->button(QMessageBox::Yes) != nullptr) {
        QMessageBox::StandardButton a = QMessageBox::No;
        if (!answers.empty()) {
          a = answers.front();
          answers.pop_front();
        }
        box->button(a)->click();
      } else {
        box->button(QMessageBox::Ok)->click();
      }
    } else if (auto* dlg = qobject_cast<CBurnProgressDlg*>(w)) {
      if (on_burning && !on_burning(dlg)) return;
      ++burning_dialogs;
      dlg->reject();
    }
  }
  QTimer timer_;
};

// A record that the recorder would return: linear PCM CD audio of `seconds`,
// or with `bytes_per_second` another codec's rate.
RecordingRecord Record(uint32_t entry, const std::string& name, uint32_t seconds,
                       uint32_t bytes_per_second = 0) {
  RecordingRecord r;
  r.SetU32(record::kEntry, entry);
  if (bytes_per_second == 0) {
    r.SetU32(record::kCodecId, protocol::kCodecLinearPcm);
    r.SetU32(record::kSampleRate, 44100);
    r.SetU16(record::kBitsPerSample, 16);
    r.SetU16(record::kChannels, 2);
    r.SetU32(record::kDataSize, seconds * 176400);
  } else {
    r.SetU32(record::kCodecId, protocol::kCodecMpegLayer2);
    r.SetU32(record::kBitRate, bytes_per_second * 8);
    r.SetU32(record::kDataSize, seconds * bytes_per_second);
  }
  r.SetName(name);
  return r;
}

burn::BURN_FILE File(uint32_t entry, const std::string& name, uint32_t size = 1000) {
  burn::BURN_FILE f;
  f.entry = entry;
  f.name = name;
  f.size = size;
  f.duration = 5;
  return f;
}

// The panel over the stand-in writer with the given drives and disc in 0,0,0.
class PanelTest : public ::testing::Test {
 protected:
  void Start(const std::string& drives, const std::string& disc = "kind=none\n") {
    fs::create_directories(dir_ / "writer");
    fs::create_directories(dir_ / "temp");
    std::ofstream(dir_ / "writer" / "drives.txt") << drives;
    SetDisc(disc);
    ::setenv("LYR_BURN_EMU_STATE", (dir_ / "writer").c_str(), 1);
    tools_.UseTools(std::string(LYR_BURN_EMU_BIN) + "/cdrecord", "/usr/bin/genisoimage");
    BurnServices services;
    services.tools = &tools_;
    services.link = &link_;
    services.tool_worker = &worker_;
    const std::string temp = temp_folder_.empty() ? (dir_ / "temp").string() : temp_folder_;
    services.temp_folder = [temp] { return temp; };
    panel_ = std::make_unique<CCopyBurnPanel>(services);
    panel_->RescanDrives();
    ASSERT_TRUE(WaitFor([&] { return panel_->ScanCount() == 1; }));
  }
  void SetDisc(const std::string& text) { std::ofstream(dir_ / "writer" / "disc-0,0,0.txt") << text; }
  std::string Calls() {
    std::ifstream in(dir_ / "writer" / "calls.log");
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  // Presses Burn and waits for the check's end; 1 when it passed.
  int Burn(CKVBBurnPage* page) {
    QSignalSpy checked(page, &CKVBBurnPage::discChecked);
    EXPECT_TRUE(page->BurnButton()->isEnabled());
    page->BurnButton()->click();
    EXPECT_FALSE(page->BurnButton()->isEnabled());  // no second check while one runs
    EXPECT_TRUE(WaitFor([&] { return !checked.isEmpty() && !page->IsBusy(); }));
    return checked.isEmpty() ? -1 : (checked.front().front().toBool() ? 1 : 0);
  }

  lyr_test::TempDir dir_path_;
  fs::path dir_ = dir_path_.path();
  std::string temp_folder_;
  burn::BurnerTools tools_;
  RecorderLink link_;
  TaskQueue worker_;
  std::unique_ptr<CCopyBurnPanel> panel_;
};

constexpr char kWriter[] = "0,0,0 'HL-DT-ST' 'DVDRAM GH22NS50' 0x1FFF 0x1FEE\n";

TEST_F(PanelTest, TabsAndTheirOrder) {
  Start(kWriter);
  EXPECT_EQ(panel_->windowTitle(), "Copy/Burn panel");
  ASSERT_GE(panel_->Tabs()->count(), 2);
  EXPECT_EQ(panel_->Tabs()->tabText(0), "Data CD");
  EXPECT_EQ(panel_->Tabs()->tabText(1), "Audio CD");
  QSignalSpy page(panel_.get(), &CCopyBurnPanel::panelPageChanged);
  panel_->Tabs()->setCurrentIndex(1);
  ASSERT_EQ(page.size(), 1);
  EXPECT_FALSE(page.front().front().toBool());  // a burn page
  EXPECT_EQ(panel_->CurrentPage(), panel_->AudioPage());
}

TEST_F(PanelTest, NoWriterLeavesBothCombosEmptyAndBurnDisabled) {
  Start("");
  panel_->AudioPage()->AddTrack(Record(1, "LYR0001.WAV", 60));
  panel_->DataPage()->Layout()->AddRecording(File(1, "LYR0001"));
  for (CKVBBurnPage* page :
       {static_cast<CKVBBurnPage*>(panel_->DataPage()), static_cast<CKVBBurnPage*>(panel_->AudioPage())}) {
    EXPECT_EQ(page->DriveCombo()->count(), 0);
    EXPECT_EQ(page->SelectedDevice(), burn::kNoDevice);
    EXPECT_FALSE(page->BurnButton()->isEnabled());
  }
}

TEST_F(PanelTest, BurnNeedsADriveAndARow) {
  // A drive that writes only DVD-RAM is offered; one that writes nothing is not.
  Start("0,0,0 'X' 'RAM ONLY' 0x1FFF 0x1000\n0,1,0 'Y' 'READER' 0x0011 0x0000\n");
  CDlgBurnAudio* audio = panel_->AudioPage();
  ASSERT_EQ(audio->DriveCombo()->count(), 1);
  EXPECT_EQ(audio->DriveCombo()->itemText(0).toStdString(), "X RAM ONLY");
  EXPECT_EQ(audio->SelectedDevice(), 0u);
  EXPECT_FALSE(audio->BurnButton()->isEnabled());
  audio->AddTrack(Record(1, "LYR0001.WAV", 60));
  EXPECT_TRUE(audio->BurnButton()->isEnabled());
  audio->Tracks()->topLevelItem(0)->setSelected(true);
  audio->DeleteSelected();
  EXPECT_FALSE(audio->BurnButton()->isEnabled());
  EXPECT_EQ(audio->TotalSeconds(), 0u);

  // A rescan that finds no writer empties the combo again.
  std::ofstream(dir_ / "writer" / "drives.txt") << "";
  panel_->DataPage()->Layout()->AddRecording(File(1, "LYR0001"));
  EXPECT_TRUE(panel_->DataPage()->BurnButton()->isEnabled());
  panel_->RescanDrives();
  ASSERT_TRUE(WaitFor([&] { return panel_->ScanCount() == 2; }));
  EXPECT_FALSE(panel_->DataPage()->BurnButton()->isEnabled());
}

TEST_F(PanelTest, AudioTotalsAndDuplicates) {
  Start(kWriter);
  CDlgBurnAudio* audio = panel_->AudioPage();
  EXPECT_EQ(audio->findChild<QLabel*>("totalTime")->text(), "Total Time: 00m:00s");
  ASSERT_TRUE(audio->AddTrack(Record(7, "LYR0007.WAV", 60)));
  EXPECT_FALSE(audio->AddTrack(Record(7, "LYR0007.WAV", 60)));  // that recording is listed
  EXPECT_EQ(audio->findChild<QLabel*>("totalTime")->text(), "Total Time:  1m: 0s");
  EXPECT_EQ(audio->RequiredBytes(), 10584000u);
  QTreeWidgetItem* row = audio->Tracks()->topLevelItem(0);
  EXPECT_EQ(row->text(0), "LYR0007.WAV");
  EXPECT_EQ(row->text(1), "00:01:00");
  EXPECT_EQ(row->text(2), "10584000");
  ASSERT_TRUE(audio->AddTrack(Record(8, "LYR0008.WAV", 3601 - 60)));
  EXPECT_EQ(audio->TotalTimeText(), "Total Time: 60m: 1s");
}

struct CheckCase {
  const char* name;
  const char* disc;
  bool audio;
  std::deque<QMessageBox::StandardButton> answers;
  int result;
  std::vector<const char*> texts;  // title|text of every box, in order
};

TEST_F(PanelTest, DiscCheckThroughThePages) {
  const char* kRewritable =
      "Warning|The disk is rewritable, Are you sure to ease the disk?\nIt won't be possible to recover the "
      "deleted "
      "data!";
  const char* kPlusRw =
      "Warning|The disk is DVD+RW, Are you sure to ease the disk?\nIt won't be possible to recover the "
      "deleted data!";
  const std::vector<CheckCase> cases = {
      {"audio on a DVD-R",
       "kind=DVD-R\nblank=1\nfree=2295104\n",
       true,
       {},
       0,
       {"Error|The disk is not a CD-R or CD-RW."}},
      {"no disc", "kind=none\n", false, {}, 0, {"Error|No disk or wrong disk."}},
      {"full CD-RW erased after Yes",
       "kind=CD-RW\nblank=0\nfree=0\n",
       true,
       {QMessageBox::Yes},
       1,
       {kRewritable}},
      {"full CD-RW kept after No",
       "kind=CD-RW\nblank=0\nfree=0\n",
       true,
       {QMessageBox::No},
       0,
       {kRewritable}},
      {"small blank CD-R",
       "kind=CD-R\nblank=1\nfree=10\n",
       true,
       {},
       0,
       {"Error|There is no enough place in CD."}},
      {"DVD+RW asked once", "kind=DVD+RW\nblank=0\nfree=0\n", false, {QMessageBox::Yes}, 1, {kPlusRw}},
      {"blank CD-R", "kind=CD-R\nblank=1\nfree=359849\n", true, {}, 1, {}},
  };
  Start(kWriter);
  panel_->AudioPage()->AddTrack(Record(1, "LYR0001.WAV", 60));
  panel_->DataPage()->Layout()->AddRecording(File(1, "LYR0001"));
  for (const CheckCase& c : cases) {
    SCOPED_TRACE(c.name);
    SetDisc(c.disc);
    Answerer answerer;
    answerer.answers = c.answers;
    CKVBBurnPage* page = c.audio ? static_cast<CKVBBurnPage*>(panel_->AudioPage())
                                 : static_cast<CKVBBurnPage*>(panel_->DataPage());
    EXPECT_EQ(Burn(page), c.result);
    std::vector<std::string> seen;
    for (const Box& b : answerer.seen) {
      seen.push_back((b.title + "|" + b.text).toStdString());
      const bool question = b.text.contains("Are you sure");
      EXPECT_EQ(b.icon,
                question ? QMessageBox::Question
                : b.text.startsWith("No disk") || b.text.contains("not a CD") || b.text.contains("place")
                    ? QMessageBox::Warning
                    : QMessageBox::Critical)
          << b.text.toStdString();
    }
    EXPECT_EQ(seen, std::vector<std::string>(c.texts.begin(), c.texts.end()));
    // A passed check opens the "Burning" dialog, a refused one never does.
    ASSERT_TRUE(WaitFor([&] { return page->JobEvent().IsSet(); }));
    EXPECT_EQ(answerer.burning_dialogs, c.result);
  }
  // The CD-RW was blanked once, after the Yes; the DVD+RW never.
  const std::string calls = Calls();
  size_t blanks = 0;
  for (size_t at = calls.find("blank="); at != std::string::npos; at = calls.find("blank=", at + 1)) ++blanks;
  EXPECT_EQ(blanks, 1u) << calls;
}

TEST_F(PanelTest, NoRoomForTheTemporaryFiles) {
  Start(kWriter, "kind=CD-R\nblank=1\nfree=359849\n");
  // Four billion seconds of a 1-byte-per-second codec: more than any disk holds.
  CDlgBurnAudio* audio = panel_->AudioPage();
  audio->AddTrack(Record(1, "LYR0001.MP2", 4000000000u, 1));
  Answerer answerer;
  EXPECT_EQ(Burn(audio), 0);
  ASSERT_EQ(answerer.seen.size(), 1u);
  EXPECT_EQ(answerer.seen[0].title, "Warning");
  EXPECT_EQ(answerer.seen[0].text, "There is no enough place in disk store temporary files.");
  EXPECT_EQ(answerer.seen[0].icon, QMessageBox::Warning);
}

TEST_F(PanelTest, ADriveScanWaitsWhileTheBurningDialogIsOpen) {
  Start(kWriter, "kind=CD-R\nblank=1\nfree=359849\n");
  CDlgBurnAudio* audio = panel_->AudioPage();
  audio->AddTrack(Record(1, "LYR0001.WAV", 60));
  Answerer answerer;
  int ticks = 0;
  int scans_while_open = -1;
  answerer.on_burning = [&](CBurnProgressDlg*) {
    if (ticks++ == 0) panel_->RescanDrives();  // a drive came meanwhile
    if (ticks < 20) return false;
    scans_while_open = panel_->ScanCount();
    return true;
  };
  EXPECT_EQ(Burn(audio), 1);
  EXPECT_EQ(scans_while_open, 1);  // the job owns the tool runner
  ASSERT_TRUE(WaitFor([&] { return panel_->ScanCount() == 2; }));
}

// ---- the layout list ----

class LayoutTest : public ::testing::Test {
 protected:
  CListCtrlBurnData list;
};

TEST_F(LayoutTest, LabelEditingRefusesForbiddenCharactersAndNamesInUse) {
  list.NewFolder();
  list.NewFolder();
  ASSERT_TRUE(list.AddRecording(File(5, "take")));
  ASSERT_EQ(list.topLevelItemCount(), 3);
  EXPECT_EQ(list.topLevelItem(0)->text(0), "New Directory");
  EXPECT_EQ(list.topLevelItem(1)->text(0), "New Directory(0)");
  EXPECT_EQ(list.topLevelItem(1)->text(1), "FOLDER");
  EXPECT_EQ(list.topLevelItem(2)->text(1), "00:00:05");
  EXPECT_EQ(list.topLevelItem(2)->text(2), "1000");

  const struct {
    int row;
    const char* typed;
    const char* shown;    // the row's name afterwards
    const char* message;  // empty: none
  } cases[] = {
      {0, "a?b", "New Directory", "The name can't have one of the chars \\ / : * ? \" < > |"},
      {1, "new directory", "New Directory(0)",
       "Can't rename \"New Directory(0)\":The name is in used. Please choose another name."},
      {0, "NEW DIRECTORY", "New Directory", ""},  // the same name: nothing happens
      {0, "Music", "Music", ""},
      {2, "x.wav", "x", ""},  // no extension of the user's
      {2, "y|z", "x", "The name can't have one of the chars \\ / : * ? \" < > |"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.typed);
    Answerer answerer;
    list.topLevelItem(c.row)->setText(0, c.typed);  // what the editor's end writes
    EXPECT_EQ(list.topLevelItem(c.row)->text(0), c.shown);
    if (*c.message == '\0') {
      EXPECT_TRUE(answerer.seen.empty());
    } else {
      ASSERT_EQ(answerer.seen.size(), 1u);
      EXPECT_EQ(answerer.seen[0].title, "Error");
      EXPECT_EQ(answerer.seen[0].text, c.message);
      EXPECT_EQ(answerer.seen[0].icon, QMessageBox::Critical);
    }
  }
  std::vector<burn::BURN_FILE> files;
  list.Tree().CollectFiles(&files);
  ASSERT_EQ(files.size(), 1u);
  EXPECT_EQ(files[0].disc_path, "/x");
  EXPECT_NE(list.Tree().FindFolder("/Music/"), nullptr);
}

TEST_F(LayoutTest, FoldersOpenAndDeleteAfterTheQuestion) {
  burn::BurnerTools tools;
  BurnServices services;
  services.tools = &tools;
  CDlgBurnData page(services);
  CListCtrlBurnData* list = page.Layout();
  list->NewFolder();
  list->AddRecording(File(1, "one", 3 * 1024 * 1024));
  // Double click on the folder row opens it; the location combo follows.
  emit list->itemDoubleClicked(list->topLevelItem(0), 0);
  EXPECT_EQ(burn::CBurnTree::GetFolderPath(&list->Tree().CurrentFolder()), "/New Directory/");
  ASSERT_EQ(page.LocationCombo()->count(), 2);
  EXPECT_EQ(page.LocationCombo()->itemText(0), "My CD");
  EXPECT_EQ(page.LocationCombo()->itemText(1).trimmed(), "New Directory");
  list->AddRecording(File(1, "one", 1024 * 1024));  // another folder may hold it too
  list->NewFolder();
  emit list->itemDoubleClicked(list->topLevelItem(0), 0);
  EXPECT_EQ(page.LocationCombo()->count(), 3);
  // Choosing an entry opens that folder.
  emit page.LocationCombo()->activated(1);
  EXPECT_EQ(burn::CBurnTree::GetFolderPath(&list->Tree().CurrentFolder()), "/New Directory/");
  EXPECT_EQ(page.LocationCombo()->count(), 2);
  // Choosing "My CD" opens the root.
  emit page.LocationCombo()->activated(0);
  EXPECT_EQ(burn::CBurnTree::GetFolderPath(&list->Tree().CurrentFolder()), "/");
  EXPECT_EQ(page.TotalSizeText(), "Total size: 4 MB");
  EXPECT_EQ(page.RequiredBytes(), 2u * 1024 + 4u * 1024 * 1024);

  list->topLevelItem(0)->setSelected(true);
  {
    Answerer answerer;  // No: the folder stays
    list->DeleteSelected();
    ASSERT_EQ(answerer.seen.size(), 1u);
    EXPECT_EQ(answerer.seen[0].title, "Warning");
    EXPECT_EQ(answerer.seen[0].text, "Are you sure to remove the \"New Directory\" folder?");
    EXPECT_EQ(list->topLevelItemCount(), 2);
  }
  Answerer answerer;
  answerer.answers = {QMessageBox::Yes};
  list->DeleteSelected();
  EXPECT_EQ(list->topLevelItemCount(), 1);
  EXPECT_EQ(list->FileCount(), 1u);
  EXPECT_EQ(page.TotalSizeText(), "Total size: 3 MB");
  // The disc size sets the trackbar.
  auto* bar = page.findChild<QSlider*>("sizeBar");
  auto* size = page.findChild<QComboBox*>("discSize");
  EXPECT_EQ(bar->maximum(), 800);
  size->setCurrentIndex(1);
  EXPECT_EQ(bar->maximum(), 5000);
  EXPECT_EQ(bar->value(), 3);
  EXPECT_EQ(page.findChild<QComboBox*>("pcmFormat")->currentText(), "BWF Format");
}

// ---- the "Burning" dialog ----

TEST(BurnProgressDlg, ButtonReadsStartCancelFinish) {
  // A job that runs until it is cancelled, then reports its end.
  std::atomic<bool> saw_cancel{false};
  CBurnProgressDlg dlg(nullptr, [&](burn::BurnReporter& window) {
    window.AppendLog("Downloading...\r\n");
    window.SetStatus("Burning...      10%");
    window.SetProgress(10);
    while (!window.CancelRequested()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    saw_cancel = true;
    window.Finished(0);
    return burn::BurnJobResult{0, false};
  });
  auto* button = dlg.findChild<QPushButton*>("button");
  auto* log = dlg.findChild<QPlainTextEdit*>("log");
  EXPECT_EQ(dlg.windowTitle(), "Burning");
  EXPECT_EQ(button->text(), "Start");
  EXPECT_EQ(log->toPlainText(), "Ready...");
  dlg.show();
  button->click();
  EXPECT_EQ(button->text(), "Cancel");
  EXPECT_TRUE(dlg.IsActive());
  ASSERT_TRUE(WaitFor([&] { return dlg.findChild<QProgressBar*>("progress")->value() == 10; }));
  EXPECT_EQ(dlg.findChild<QLabel*>("status")->text(), "Burning...      10%");
  EXPECT_EQ(log->toPlainText(), "Ready...\nDownloading...");
  button->click();  // cancel
  EXPECT_EQ(button->text(), "Finish");
  EXPECT_TRUE(dlg.CancelAsked());
  ASSERT_TRUE(WaitFor([&] { return !dlg.IsActive(); }));
  EXPECT_TRUE(saw_cancel);
  EXPECT_TRUE(dlg.isVisible());
  button->click();  // after the end: closes
  EXPECT_FALSE(dlg.isVisible());
}

TEST(BurnProgressDlg, AJobThatEndsByItselfAndACloseWhileRunning) {
  CBurnProgressDlg done(nullptr, [](burn::BurnReporter& window) {
    window.Finished(1);
    return burn::BurnJobResult{1, true};
  });
  done.show();
  done.findChild<QPushButton*>("button")->click();
  ASSERT_TRUE(WaitFor([&] { return !done.IsActive(); }));
  EXPECT_EQ(done.findChild<QPushButton*>("button")->text(), "Finish");
  EXPECT_TRUE(done.Result().burned);

  // A close request while the job runs cancels it; the dialog goes once the
  // job has ended, and its question on the way is answered No at once.
  std::atomic<int> answer{-1};
  CBurnProgressDlg running(nullptr, [&](burn::BurnReporter& window) {
    while (!window.CancelRequested()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    answer = window.Ask("Continue?", "Warning") ? 1 : 0;
    window.Finished(0);
    return burn::BurnJobResult{};
  });
  running.show();
  running.findChild<QPushButton*>("button")->click();
  running.RequestClose();
  EXPECT_TRUE(running.isVisible());
  ASSERT_TRUE(WaitFor([&] { return !running.isVisible(); }, std::chrono::seconds(5)));
  EXPECT_EQ(answer, 0);
}

}  // namespace
}  // namespace lyr
