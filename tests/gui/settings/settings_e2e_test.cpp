// The pages writing to a stand-in recorder served through FUSE, read back
// with lyrctl.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>

#include "e2e/e2e_support.h"
#include "gui/frame/status_panel.h"
#include "gui/settings/choice_spin.h"
#include "gui/settings/settings_pages.h"
#include "session/connection.h"
#include "support/qt_env.h"

using namespace lyr;

namespace {

template <class T>
T* Child(QWidget* page, const char* name) {
  T* child = page->findChild<T*>(QString::fromLatin1(name));
  EXPECT_NE(child, nullptr) << name;
  return child;
}

TEST(SettingsPagesOnTheStandIn, ApplyReachesTheRecorder) {
  LYR_REQUIRE_FUSE();
  lyr_test::ServedRecorder recorder;
  ASSERT_TRUE(recorder.Start());
  lyr::RecorderModel model;
  {
    lyr::RecorderLink link;
    lyr::TaskQueue worker;
    link.SetSettleDelay(std::chrono::milliseconds(0));
    ASSERT_EQ(link.OpenLink(recorder.disk()), 0) << link.OpenError().Message();
    link.SetDriveOpen(true);
    ASSERT_EQ(lyr::CompleteConnection(link, model), lyr::ConnectionResult::kReady);
    QWidget frame;
    CStatusPanel panel(model, link, worker, &frame);
    CSettingsPages pages(model, link, worker, &frame);

    // FILE TYPE: MPEG at 192 kb/s, mono, 32 kHz, TAPExxxx.MPA.
    CSettingsPages::ShowPage(pages.file_type);
    QTest::keyClick(Child<QComboBox>(pages.file_type, "type"), Qt::Key_End);
    QTest::keyClick(Child<QComboBox>(pages.file_type, "bitrate"), Qt::Key_Home);
    for (int i = 0; i < 9; ++i) QTest::keyClick(Child<QComboBox>(pages.file_type, "bitrate"), Qt::Key_Down);
    QTest::keyClick(Child<QComboBox>(pages.file_type, "channels"), Qt::Key_End);
    QTest::keyClick(Child<QComboBox>(pages.file_type, "sampling"), Qt::Key_Home);
    for (auto [edit, ok, text] :
         {std::tuple{"file_name", "file_name_ok", "TAPE"}, {"file_ext", "file_ext_ok", "MPAX"}}) {
      Child<QLineEdit>(pages.file_type, edit)->clear();
      QTest::keyClicks(Child<QLineEdit>(pages.file_type, edit), text);
      QTest::mouseClick(Child<QPushButton>(pages.file_type, ok), Qt::LeftButton);
    }
    QTest::mouseClick(Child<QPushButton>(pages.file_type, "apply"), Qt::LeftButton);
    EXPECT_TRUE(pages.file_type->IsBusy());
    ASSERT_TRUE(lyr_test::WaitFor([&] { return !pages.file_type->IsBusy(); }));
    EXPECT_EQ(pages.file_type->windowTitle().toStdString(), "FILE TYPE");
    // The other listeners were told.
    ASSERT_TRUE(lyr_test::WaitFor([&] { return panel.FileTypeText() == "MP2 MO 32 kHz\nTAPExxxx.MPA"; }))
        << panel.FileTypeText().toStdString();

    // TIME & DATE: the year 2031, the rest as the PC's clock.
    CSettingsPages::ShowPage(pages.time_date);
    CChoiceSpin* year = Child<CChoiceSpin>(pages.time_date, "year");
    year->setValue(31);
    EXPECT_EQ(pages.time_date->windowTitle().toStdString(), "TIME & DATE   NOT SET");
    QTest::mouseClick(Child<QPushButton>(pages.time_date, "apply"), Qt::LeftButton);
    ASSERT_TRUE(lyr_test::WaitFor([&] { return !pages.time_date->IsBusy(); }));
    // The model has read the recorder's new clock: the page stays clean.
    EXPECT_EQ(model.DeviceClock().year, 2031);
    QTest::qWait(CTimeDatePage::kTimerIntervalMs + 200);
    EXPECT_EQ(pages.time_date->windowTitle().toStdString(), "TIME & DATE");
    pages.HideAll();
    link.CloseDrive();
  }

  const lyr_test::RunResult r = recorder.Lyrctl({"info", "--json"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  const auto j = nlohmann::json::parse(r.out);
  const auto& type = j["file_type"];
  EXPECT_EQ(type["codec"], 0x7000F);
  EXPECT_EQ(type["bit_rate"], 192000);
  EXPECT_EQ(type["channels"], 1);
  EXPECT_EQ(type["sample_rate"], 32000);
  EXPECT_EQ(type["file_name_prefix"], "TAPE");
  EXPECT_EQ(type["file_extension"], "MPA");
  EXPECT_EQ(j["clock"].get<std::string>().substr(0, 5), "2031-");
}

}  // namespace
