#include "gui/settings/settings_pages.h"

#include <gtest/gtest.h>

#include <QComboBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <atomic>
#include <cstring>

#include "gui/common/confirm_dialog.h"
#include "gui/settings/choice_spin.h"
#include "gui/settings/setting_dialog.h"
#include "link/link_commands.h"
#include "settings/settings_templates.h"
#include "support/emulated_recorder.h"
#include "support/qt_env.h"
#include "support/temp_dir.h"

using namespace lyr;

namespace {

using namespace std::chrono;
using lyr_test::MarkUsable;

template <class T>
T* Child(QWidget* page, const char* name) {
  T* child = page->findChild<T*>(QString::fromLatin1(name));
  EXPECT_NE(child, nullptr) << name;
  return child;
}

std::string Title(const QWidget* page) { return page->windowTitle().toStdString(); }

struct FileTypeFixture : ::testing::Test {
  lyr::RecorderModel model;
  lyr::RecorderLink link;
  lyr::TaskQueue worker;
  std::unique_ptr<CFileTypePage> page;

  // The recorder records PCM at 44.1 kHz, stereo, 16 bits.
  void SetUp() override {
    lyr::FileFormatTemplate f;
    f.codecid = 0x70001;
    f.samplerate = 44100;
    f.bitrate = 1411200;
    f.channels = 2;
    f.bits = 16;
    lyr::SetFieldText(f.filename, sizeof f.filename, "USER");
    lyr::SetFieldText(f.extname, sizeof f.extname, "WAV");
    model.SetSettingsFileFormat(f);
    page = std::make_unique<CFileTypePage>(model, link, worker);
    page->show();
  }
  void Pick(const char* list, int key) { QTest::keyClick(Child<QComboBox>(page.get(), list), key); }
};

TEST_F(FileTypeFixture, BitRateFollowsTheTypeChannelsAndRate) {
  auto* bitrate = Child<QComboBox>(page.get(), "bitrate");
  auto* apply = Child<QPushButton>(page.get(), "apply");
  EXPECT_EQ(Title(page.get()), "FILE TYPE");
  EXPECT_FALSE(apply->isEnabled());
  EXPECT_FALSE(bitrate->isEnabled());
  EXPECT_EQ(model.Listeners().size(), 1u) << "registered while shown";

  Pick("type", Qt::Key_Down);  // MPEG1-Layer2
  EXPECT_EQ(page->Block().codecid, 0x7000Fu);
  EXPECT_TRUE(bitrate->isEnabled());
  EXPECT_EQ(bitrate->currentText().toStdString(), "128 kb/s");
  EXPECT_EQ(page->Block().bitrate, 128000u);
  EXPECT_EQ(Title(page.get()), "FILE TYPE   NOT SET");
  EXPECT_TRUE(apply->isEnabled());

  Pick("bitrate", Qt::Key_Down);
  EXPECT_EQ(page->Block().bitrate, 160000u);

  Pick("type", Qt::Key_Up);  // back to WAV-PCM16: bits x channels x rate
  EXPECT_FALSE(bitrate->isEnabled());
  // The greyed box shows no MPEG bit rate for PCM.
  EXPECT_EQ(bitrate->currentText(), QString());
  EXPECT_EQ(page->Block().bitrate, 1411200u);

  Pick("sampling", Qt::Key_Down);  // 48 kHz
  EXPECT_EQ(page->Block().bitrate, 1536000u);
  Pick("channels", Qt::Key_Down);  // MONO
  EXPECT_EQ(page->Block().channels, 1);
  EXPECT_EQ(page->Block().bitrate, 768000u);

  // Hiding drops the registration; showing again reloads from the model and
  // drops the unsent edits.
  page->hide();
  EXPECT_TRUE(model.Listeners().empty());
  page->show();
  EXPECT_EQ(page->Block().bitrate, 1411200u);
  EXPECT_EQ(Title(page.get()), "FILE TYPE");
}

TEST_F(FileTypeFixture, ExtensionFieldAlwaysKeepsItsTerminator) {
  auto* name = Child<QLineEdit>(page.get(), "file_name");
  auto* ext = Child<QLineEdit>(page.get(), "file_ext");
  name->clear();
  QTest::keyClicks(name, "TAPES");
  QTest::mouseClick(Child<QPushButton>(page.get(), "file_name_ok"), Qt::LeftButton);
  EXPECT_EQ(lyr::FieldText(page->Block().filename, 8), "TAPE");
  EXPECT_EQ(page->Block().filename[4], '\0');

  ext->clear();
  QTest::keyClicks(ext, "MPEG");
  QTest::mouseClick(Child<QPushButton>(page.get(), "file_ext_ok"), Qt::LeftButton);
  EXPECT_EQ(std::string(page->Block().extname, 4), std::string("MPE\0", 4));
  EXPECT_EQ(Title(page.get()), "FILE TYPE   NOT SET");

  // One byte a character: text outside Latin-1 is refused.
  ext->clear();
  for (const QChar c : QString::fromUtf8("é€ü"))
    QTest::sendKeyEvent(QTest::Click, ext, Qt::Key_unknown, QString(c), Qt::NoModifier);
  EXPECT_EQ(ext->text(), QString::fromUtf8("éü"));
  QTest::mouseClick(Child<QPushButton>(page.get(), "file_ext_ok"), Qt::LeftButton);
  EXPECT_EQ(std::string(page->Block().extname, 4), std::string("\xE9\xFC\0\0", 4));
}

// Apply sends what the fields show, as if each "OK" had been pressed; text
// the fields' checks do not let through is refused with the reason.
TEST_F(FileTypeFixture, ApplyTakesTheFieldsAsTyped) {
  auto* name = Child<QLineEdit>(page.get(), "file_name");
  auto* ext = Child<QLineEdit>(page.get(), "file_ext");
  auto* apply = Child<QPushButton>(page.get(), "apply");
  name->clear();
  QTest::keyClicks(name, "ABCD");
  EXPECT_TRUE(apply->isEnabled()) << "typing is a change to send";
  ext->clear();
  QTest::keyClicks(ext, "MP2");
  page->Apply();
  EXPECT_EQ(lyr::FieldText(page->Block().filename, 8), "ABCD");
  EXPECT_EQ(std::string(page->Block().extname, 4), std::string("MP2\0", 4));
  ASSERT_TRUE(lyr_test::WaitFor([&] { return !page->IsBusy(); }));

  name->setText(QString::fromLatin1("A\x01"));  // not through the keyboard
  page->Apply();
  EXPECT_FALSE(page->IsBusy()) << "nothing is sent";
  auto* refused = page->findChild<QMessageBox*>("applyRefused");
  ASSERT_NE(refused, nullptr);
  EXPECT_TRUE(refused->text().contains("file name"));
  EXPECT_EQ(lyr::FieldText(page->Block().filename, 8), "ABCD");
}

TEST_F(FileTypeFixture, ACodecTheListsDoNotOfferStaysAsTheRecorderGaveIt) {
  page->hide();
  lyr::FileFormatTemplate f = model.SettingsFileFormat();
  f.codecid = 0x70005;
  f.bitrate = 99000;
  model.SetSettingsFileFormat(f);
  page->show();
  EXPECT_EQ(Child<QComboBox>(page.get(), "type")->currentIndex(), -1);
  EXPECT_EQ(page->Block().codecid, 0x70005u);
  EXPECT_EQ(page->Block().bitrate, 99000u);
  EXPECT_EQ(Title(page.get()), "FILE TYPE");
}

TEST_F(FileTypeFixture, AFailedWriteKeepsTheChangesAndTheMark) {
  Pick("type", Qt::Key_Down);
  page->Apply();  // no recorder behind the link
  EXPECT_TRUE(page->IsBusy());
  ASSERT_TRUE(lyr_test::WaitFor([&] { return !page->IsBusy(); }));
  EXPECT_EQ(Title(page.get()), "FILE TYPE   NOT SET");
  EXPECT_EQ(page->Block().codecid, 0x7000Fu);
  EXPECT_EQ(model.SettingsFileFormat().codecid, 0x70001u);
}

// Counts the model's notices to its other listeners.
struct NoticeCounter : lyr::ModelListener {
  int shown = 0;
  void LoadFromModel() override {}
  void Prepare() override {}
  void Show() override { ++shown; }
};

// A page closed while the recorder holds the reply to its Apply goes at
// once; the write still lands, and its result reaches no page.
TEST(FileTypePage, DestroyedDuringAHeldWriteGoesAtOnceAndTheWriteLands) {
  lyr_test::EmulatedRecorder recorder;
  const std::unique_ptr<lyr::RecorderLink> link = recorder.MakeLink();
  lyr::RecorderModel model;
  const lyr::Result<lyr::SettingsRecord> before = lyr::LinkCommands(*link).ReadSettings();
  ASSERT_TRUE(before.ok());
  model.Settings() = before.value();
  lyr::TaskQueue worker;
  NoticeCounter other;
  model.AddListener(&other);
  auto page = std::make_unique<CFileTypePage>(model, *link, worker);
  page->show();
  QTest::keyClick(Child<QComboBox>(page.get(), "type"), Qt::Key_Home);  // PCM; the stand-in has MPEG
  const uint32_t chosen = page->Block().codecid;
  ASSERT_NE(chosen, model.SettingsFileFormat().codecid);
  const int shown_before = other.shown;

  recorder.config().slow_reply_ms = 1000;
  page->Apply();
  QTest::qWait(100);
  const auto start = steady_clock::now();
  page.reset();
  EXPECT_LT(steady_clock::now() - start, milliseconds(300));

  std::atomic<bool> drained = false;
  worker.Post([&] { drained = true; });
  ASSERT_TRUE(lyr_test::WaitFor([&] { return drained.load(); }));
  recorder.config().slow_reply_ms = 0;
  QTest::qWait(50);  // where a result for the page would arrive
  EXPECT_EQ(other.shown, shown_before);
  EXPECT_TRUE(model.Settings() == before.value()) << "the model takes only what a page saw written";
  const lyr::Result<lyr::SettingsRecord> written = lyr::LinkCommands(*link).ReadSettings();
  ASSERT_TRUE(written.ok());
  lyr::RecorderModel read_back;
  read_back.Settings() = written.value();
  EXPECT_EQ(read_back.SettingsFileFormat().codecid, chosen);
  model.RemoveListener(&other);
}

TEST(FileTypePage, WithoutAModelProposesTheDefaults) {
  lyr::RecorderModel model;
  lyr::RecorderLink link;
  lyr::TaskQueue worker;
  CFileTypePage page(model, link, worker);
  page.LoadFromModel();
  EXPECT_EQ(page.Block().codecid, 0x70001u);
  EXPECT_EQ(page.Block().samplerate, 44100u);
  EXPECT_EQ(page.Block().bitrate, 128000u);
  EXPECT_EQ(lyr::FieldText(page.Block().filename, 8), "USER");
  EXPECT_EQ(lyr::FieldText(page.Block().extname, 4), "WAV");
}

// The TIME & DATE page with the PC's clock held at 10.05.2024 12:00:00.
struct TimeDateFixture : ::testing::Test {
  lyr::RecorderModel model;
  lyr::RecorderLink link;
  lyr::TaskQueue worker;
  const lyr::LocalDateTime pc = lyr::LocalDateTime{local_days{2024y / May / 10}} + 12h;
  const steady_clock::time_point steady{hours{1000}};
  std::unique_ptr<CTimeDatePage> page;

  void SetUp() override {
    SetRecorderClock(0s);
    page = std::make_unique<CTimeDatePage>(
        model, link, worker, nullptr,
        CTimeDatePage::ClockSource{[this] { return pc; }, [this] { return steady; }});
    page->show();
  }
  // The recorder's clock `away` from the PC's.
  void SetRecorderClock(seconds away) {
    lyr::DeviceRecord device{};
    lyr_test::SetDeviceClock(device, lyr::BreakDown(pc + away));
    model.TakeStatus(device, model.MemoryStatus(), steady);
  }
  CChoiceSpin* Spin(const char* name) { return Child<CChoiceSpin>(page.get(), name); }
  // As the user moves a spin.
  void Move(const char* name, int value) {
    CChoiceSpin* spin = Spin(name);
    for (int i = 0; i < spin->Count(); ++i)
      if (spin->ItemText(i).trimmed().toInt() == value) spin->setValue(i);
  }
};

TEST(TimeDatePage, MonthLengths) {
  const int lengths[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  for (int m = 1; m <= 12; ++m) EXPECT_EQ(CTimeDatePage::MonthLength(2001, m), lengths[m - 1]) << m;
  for (auto [year, days] : {std::pair{2000, 29}, {2001, 28}, {2004, 29}, {2100, 28}, {2400, 29}})
    EXPECT_EQ(CTimeDatePage::MonthLength(year, 2), days) << year;
}

TEST_F(TimeDateFixture, ListsAndTheDayClamp) {
  EXPECT_EQ(Spin("year")->ItemText(0).toStdString(), "  2000");
  EXPECT_EQ(Spin("year")->Count(), 100);
  EXPECT_EQ(Spin("month")->ItemText(0).toStdString(), "  1");
  EXPECT_EQ(Spin("hours")->ItemText(5).toStdString(), "  05");
  EXPECT_EQ(Spin("seconds")->Count(), 60);
  EXPECT_EQ(Spin("day")->ItemText(0).toStdString(), "   1");
  EXPECT_EQ(Spin("day")->Count(), 31);  // May

  Move("year", 2000);
  Move("month", 2);
  EXPECT_EQ(Spin("day")->Count(), 29);
  Move("year", 2001);
  EXPECT_EQ(Spin("day")->Count(), 28);

  Move("month", 1);
  Move("day", 31);
  Move("month", 3);
  EXPECT_EQ(Spin("day")->SelectedValue(), 31);
  Move("month", 4);
  EXPECT_EQ(Spin("day")->SelectedValue(), 30);
  EXPECT_EQ(page->Edited(), lyr::LocalDateTime{local_days{2001y / April / 30}} + 12h);
  EXPECT_EQ(Title(page.get()), "TIME & DATE   NOT SET");
  // The proposal runs on with the PC clock from where the user put it.
  page->Tick();
  EXPECT_EQ(page->Edited(), lyr::LocalDateTime{local_days{2001y / April / 30}} + 12h);
}

TEST_F(TimeDateFixture, TwoSecondsApartMarksThePage) {
  for (auto [away, marked] : {std::pair{0s, false}, {1s, false}, {-1s, false}, {2s, true}, {-2s, true}}) {
    page->hide();
    SetRecorderClock(away);
    page->show();
    EXPECT_EQ(Title(page.get()), "TIME & DATE") << "shown clean";
    page->Tick();
    EXPECT_EQ(page->IsChanged(), marked) << away.count();
    EXPECT_EQ(Title(page.get()), marked ? "TIME & DATE   NOT SET" : "TIME & DATE") << away.count();
  }
  // Half a second rounds to the nearest second.
  page->hide();
  SetRecorderClock(0s);
  model.TakeStatus(model.Device(), model.MemoryStatus(), steady - 1500ms);
  page->show();
  page->Tick();
  EXPECT_TRUE(page->IsChanged()) << "1.5 s rounds to 2 s";
}

TEST(MachineInfoPage, TextsAndTheHiddenKeys) {
  lyr::RecorderModel model;
  lyr::RecorderLink link;
  lyr::TaskQueue worker;
  lyr::PutU16(model.Device().data() + lyr::protocol::kDevFirmwareVersion, 6012);
  lyr::PutU16(model.Device().data() + lyr::protocol::kDevHardwareMcu, 0x0317);
  CMachineInfoPage page(model, link, worker);
  page.show();
  EXPECT_TRUE(page.SoftwareVersionText().isEmpty()) << "no recorder: the texts stay as they were";
  page.hide();
  MarkUsable(link);
  page.show();
  EXPECT_EQ(page.SoftwareVersionText().toStdString(), "V6.012");
  EXPECT_EQ(page.MemoryText().toStdString(), "0.00 GB, Free 0.00 MB - Used 0.00 MB");

  lyr::PutU32(model.MemoryStatus().data() + lyr::protocol::kMemSizeUnits, 4194304);
  lyr::PutU32(model.MemoryStatus().data() + lyr::protocol::kMemUnitSize, 512);
  lyr::PutU32(model.MemoryStatus().data() + lyr::protocol::kMemFreeUnits, 1048576);
  model.NotifyListeners(nullptr);
  EXPECT_EQ(page.MemoryText().toStdString(), "2.00 GB, Free 512.00 MB - Used 1536.00 MB");
  // Free beyond the size: nothing used.
  lyr::PutU32(model.MemoryStatus().data() + lyr::protocol::kMemFreeUnits, 5000000);
  model.NotifyListeners(nullptr);
  EXPECT_EQ(page.MemoryText().toStdString(), "2.00 GB, Free 2441.41 MB - Used 0.00 MB");

  page.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&page));
  QTest::keyClick(&page, Qt::Key_F12, Qt::ControlModifier | Qt::ShiftModifier);
  ASSERT_TRUE(lyr_test::WaitFor([&] { return page.findChild<QMessageBox*>() != nullptr; }));
  auto* box = page.findChild<QMessageBox*>();
  EXPECT_EQ(box->windowTitle(), QString::fromUtf8("信息"));
  EXPECT_EQ(box->text(), QString::fromUtf8("硬件版本号: V3\nMCU版本号: V2.3"));
  box->accept();
}

TEST(ConfirmDialog, YesOnlyWhenChosen) {
  struct Case {
    const char* press;  // the radio button chosen before OK, or none (closed)
    int result;
  };
  for (const Case& c : {Case{"", 2}, Case{"yes", 6}, Case{"cancel", 2}, Case{nullptr, 2}}) {
    CConfirmDialog dialog("Format", "All recordings will be deleted.", "This cannot be undone.");
    dialog.open();
    if (c.press == nullptr) {
      QTest::mouseClick(Child<QPushButton>(&dialog, "yes"), Qt::LeftButton);
      dialog.reject();
    } else {
      if (*c.press != '\0') QTest::mouseClick(Child<QPushButton>(&dialog, c.press), Qt::LeftButton);
      QTest::mouseClick(Child<QPushButton>(&dialog, "ok"), Qt::LeftButton);
    }
    EXPECT_EQ(dialog.result(), c.result) << (c.press ? c.press : "closed");
  }
}

TEST(SettingDialog, BrowseAndApply) {
  lyr_test::TempDir dir;
  CSettingDialog dialog("/tmp");
  QStringList applied;
  QObject::connect(&dialog, &CSettingDialog::applied, [&](const QString& f) { applied << f; });
  dialog.show();
  auto* edit = Child<QLineEdit>(&dialog, "temporary_files");
  EXPECT_EQ(edit->text().toStdString(), "/tmp");
  EXPECT_TRUE(edit->isReadOnly());

  // The browser, answered from inside its own loop.
  auto answer = [&](const QString& folder) {
    QTimer::singleShot(100, [&dialog, folder] {
      for (QFileDialog* browser : dialog.findChildren<QFileDialog*>()) {
        EXPECT_EQ(browser->windowTitle(), CSettingDialog::kBrowseTitle);
        EXPECT_TRUE(dialog.IsBusy());
        if (folder.isEmpty()) {
          dialog.CloseBrowser();
        } else {
          // As typed into the browser's name field.
          browser->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(folder);
          QMetaObject::invokeMethod(browser, "accept");
        }
      }
    });
    QTest::mouseClick(Child<QPushButton>(&dialog, "browse"), Qt::LeftButton);
  };
  answer(QString());
  EXPECT_EQ(edit->text().toStdString(), "/tmp") << "a cancelled browse changes nothing";
  answer(QString::fromStdString(dir.path().string()));
  EXPECT_FALSE(dialog.IsBusy());
  EXPECT_EQ(edit->text().toStdString(), dir.path().string());
  EXPECT_TRUE(applied.isEmpty());
  QTest::mouseClick(Child<QPushButton>(&dialog, "apply"), Qt::LeftButton);
  EXPECT_EQ(applied, QStringList{QString::fromStdString(dir.path().string())});
  EXPECT_TRUE(dialog.isVisible()) << "Apply leaves the dialog open";
}

TEST(SettingsPages, MadeHiddenInTheFramesOrder) {
  lyr::RecorderModel model;
  lyr::RecorderLink link;
  lyr::TaskQueue worker;
  QWidget frame;
  CSettingsPages pages(model, link, worker, &frame);
  std::vector<int> shown;
  for (CSettingsPage* page : pages.List()) {
    EXPECT_FALSE(page->isVisible());
    QObject::connect(page, &CSettingsPage::pageShown, [&](int index) { shown.push_back(index); });
  }
  EXPECT_EQ(pages.time_date->PageIndex(), 0);
  EXPECT_EQ(pages.file_type->PageIndex(), 1);
  EXPECT_EQ(pages.machine_info->PageIndex(), 2);
  CSettingsPages::ShowPage(pages.machine_info);
  ASSERT_FALSE(shown.empty());
  EXPECT_EQ(shown.front(), 2);
  EXPECT_EQ(model.Listeners().size(), 1u);
  pages.HideAll();
  EXPECT_TRUE(model.Listeners().empty());
  EXPECT_FALSE(pages.AnyBusy());
}

}  // namespace
