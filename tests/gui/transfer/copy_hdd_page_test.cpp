// The "HDD" page: its folder list, the location combo and the choices the
// copy command reads.
#include "gui/transfer/copy_hdd_page.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QStandardItemModel>
#include <QTest>
#include <QTreeWidget>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <thread>

#include "gui/transfer/file_system_read.h"
#include "settings/profile_file.h"
#include "support/qt_env.h"
#include "support/stalled_mount.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

QStringList Names(QTreeWidget* list) {
  QStringList names;
  for (int i = 0; i < list->topLevelItemCount(); ++i) names << list->topLevelItem(i)->text(0);
  return names;
}

// The list is read off the GUI thread: waits until it shows `names`.
bool Shows(QTreeWidget* list, const QStringList& names) {
  return lyr_test::WaitFor([&] { return Names(list) == names; }, std::chrono::seconds(5));
}

TEST(CopyHddPage, BrowsesOpensFoldersAndRemembersTheLastOne) {
  lyr_test::TempDir dir;
  const fs::path home = dir / "home";
  fs::create_directories(home / "takes");
  for (const char* f : {"a.wav", "b.MP2", "c.bwf", "d.txt"}) std::ofstream(home / "takes" / f) << "x";
  setenv("HOME", home.c_str(), 1);
  const std::string ini = (dir / "cfgfile.ini").string();

  {
    lyr::CDlgCopyHDD page(ini);
    EXPECT_FALSE(page.IsBurnPage());
    auto* list = page.findChild<QTreeWidget*>("localFileList");
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->headerItem()->text(0), "Name");
    EXPECT_EQ(list->headerItem()->text(3), "Date");
    // No folder used before: the home folder.
    EXPECT_EQ(page.Options().folder, home.string());
    ASSERT_TRUE(Shows(list, QStringList{"takes"})) << Names(list).join(",").toStdString();
    EXPECT_EQ(list->topLevelItem(0)->text(1), "Folder");

    // A double click on a folder opens it; the combo shows the path.
    QTreeWidgetItem* takes = list->topLevelItem(0);
    emit list->itemDoubleClicked(takes, 0);
    ASSERT_TRUE(Shows(list, {"a.wav", "b.MP2", "c.bwf"})) << Names(list).join(",").toStdString();
    EXPECT_EQ(list->topLevelItem(0)->text(1), " File");
    EXPECT_EQ(page.findChild<QComboBox*>("locationCombo")->currentText(),
              QString::fromStdString((home / "takes").string()));

    // A file written meanwhile shows after Reread.
    std::ofstream(home / "takes" / "e.wav") << "x";
    page.Reread();
    EXPECT_TRUE(Shows(list, {"a.wav", "b.MP2", "c.bwf", "e.wav"}));

    // The home folder is one of the places; choosing it opens it.
    auto* combo = page.findChild<QComboBox*>("locationCombo");
    const int at = combo->findData(QString::fromStdString(home.string()));
    ASSERT_GE(at, 0);
    EXPECT_GE(combo->findData(QStringLiteral("/")), 0);
    emit combo->activated(at);
    EXPECT_EQ(page.Options().folder, home.string());
    ASSERT_TRUE(Shows(list, QStringList{"takes"}));
    emit list->itemDoubleClicked(list->topLevelItem(0), 0);
  }
  EXPECT_EQ(lyr::ReadProfileString(ini, "common", "Copy_Path", "", 260), (home / "takes").string());
  // The next page starts where the last one was.
  lyr::CDlgCopyHDD again(ini);
  EXPECT_EQ(again.Options().folder, (home / "takes").string());
}

// The page as people know a folder window: it follows the disk, goes up,
// makes folders, opens one on Enter, offers the folders above, keeps sizes
// in MB and sorts on its headers with the folders first.
TEST(CopyHddPage, FollowsTheDiskGoesUpAndMakesFolders) {
  lyr_test::TempDir dir;
  const fs::path home = dir / "home";
  fs::create_directories(home / "takes" / "old");
  std::ofstream(home / "takes" / "big.wav") << std::string(3 * 1048576 / 2, 'x');
  std::ofstream(home / "takes" / "a.wav") << "x";
  setenv("HOME", home.c_str(), 1);
  lyr::CDlgCopyHDD page((dir / "cfgfile.ini").string());
  auto* list = page.findChild<QTreeWidget*>("localFileList");
  auto* combo = page.findChild<QComboBox*>("locationCombo");
  page.OpenFolder(QString::fromStdString((home / "takes").string()));
  ASSERT_TRUE(Shows(list, {"old", "a.wav", "big.wav"})) << Names(list).join(",").toStdString();
  EXPECT_EQ(list->topLevelItem(2)->text(2), "1.50 MB");

  // Sorted by size, largest first: the folder stays on top.
  list->sortByColumn(2, Qt::DescendingOrder);
  EXPECT_EQ(Names(list), (QStringList{"old", "big.wav", "a.wav"}));
  list->sortByColumn(0, Qt::AscendingOrder);

  // The folders above the one shown are offered.
  EXPECT_GE(combo->findData(QString::fromStdString(dir.path().string())), 0);

  // A file removed or added outside is seen without a command.
  fs::remove(home / "takes" / "a.wav");
  std::ofstream(home / "takes" / "new.wav") << "x";
  EXPECT_TRUE(Shows(list, {"old", "big.wav", "new.wav"})) << Names(list).join(",").toStdString();

  // Enter opens the folder row under the cursor.
  list->setFocus();
  list->setCurrentItem(list->topLevelItem(0));
  QTest::keyClick(list, Qt::Key_Return);
  EXPECT_EQ(page.Options().folder, (home / "takes" / "old").string());

  // Up goes back.
  page.findChild<QPushButton*>("upButton")->click();
  EXPECT_EQ(page.Options().folder, (home / "takes").string());

  // A new folder is made and opened; a name that would leave the folder is not taken.
  EXPECT_FALSE(page.MakeFolder("../out"));
  EXPECT_TRUE(page.MakeFolder("Session 2"));
  ASSERT_TRUE(
      lyr_test::WaitFor([&] { return page.Options().folder == (home / "takes" / "Session 2").string(); },
                        std::chrono::seconds(5)));
  EXPECT_TRUE(fs::is_directory(home / "takes" / "Session 2"));
}

TEST(CopyHddPage, ChoicesAreKeptBetweenRuns) {
  lyr_test::TempDir dir;
  setenv("HOME", dir.path().c_str(), 1);
  const std::string ini = (dir / "cfgfile.ini").string();
  {
    lyr::CDlgCopyHDD page(ini);
    page.findChild<QComboBox*>("pcmFormatCombo")->setCurrentIndex(0);
    page.findChild<QComboBox*>("mpegFormatCombo")->setCurrentIndex(2);
    page.findChild<QCheckBox*>("sha1Check")->setChecked(true);
  }
  lyr::CDlgCopyHDD again(ini);
  const lyr::CopyOptions o = again.Options();
  EXPECT_EQ(o.pcm_format, lyr::ExportFormat::Wave);
  EXPECT_EQ(o.mpeg_format, lyr::ExportFormat::Raw);
  EXPECT_TRUE(o.output_sha1);
}

// A mount whose server hangs: the page and its combo appear at once, the
// volume is shown as not answering, and a folder on it as well.
TEST(CopyHddPage, AMountThatDoesNotAnswerNeverHoldsTheWindow) {
  lyr_test::TempDir dir;
  const fs::path mount = dir / "stalled";
  fs::create_directories(mount);
  lyr_test::StalledMount stalled(LYR_STALLED_FUSE, mount.string());
  if (!stalled.mounted()) GTEST_SKIP() << "no FUSE here";
  fs::create_directories(dir / "home" / "takes");
  setenv("HOME", (dir / "home").c_str(), 1);
  const std::string ini = (dir / "cfgfile.ini").string();
  // The folder used last is on that mount.
  lyr::WriteCopyPath(ini, (mount / "takes").string());

  QElapsedTimer clock;
  clock.start();
  lyr::CDlgCopyHDD page(ini);
  auto* combo = page.findChild<QComboBox*>("locationCombo");
  EXPECT_LT(clock.elapsed(), 1000);
  const int at = combo->findData(QString::fromStdString(mount.string()));
  ASSERT_GE(at, 0);
  auto* list = page.findChild<QTreeWidget*>("localFileList");
  ASSERT_TRUE(Shows(list, QStringList{lyr::CLocalFileList::kNotAnswering}));
  ASSERT_TRUE(lyr_test::WaitFor([&] { return combo->itemText(at).endsWith("(not answering)"); },
                                std::chrono::seconds(5)));
  auto* items = qobject_cast<QStandardItemModel*>(combo->model());
  ASSERT_NE(items, nullptr);
  EXPECT_FALSE(items->item(at)->isEnabled());
  // The page still answers: the home folder opens.
  page.OpenFolder((dir / "home").c_str());
  EXPECT_TRUE(Shows(list, QStringList{"takes"}));
}

// A read that has not answered within its bound is reported late, and its
// answer still comes when it does; a window gone by then gets nothing.
TEST(FileSystemRead, LateAnswersStillArrive) {
  QObject context;
  std::atomic<bool> release{false};
  bool late = false;
  bool delivered = false;
  lyr::ReadOffGuiThread(
      &context,
      [&release, &delivered]() -> lyr::ReadDelivery {
        while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        return [&delivered] { delivered = true; };
      },
      50, [&late] { late = true; });
  ASSERT_TRUE(lyr_test::WaitFor([&] { return late; }, std::chrono::seconds(2)));
  EXPECT_FALSE(delivered);
  release = true;
  EXPECT_TRUE(lyr_test::WaitFor([&] { return delivered; }, std::chrono::seconds(2)));

  bool gone_delivered = false;
  std::atomic<bool> gone_release{false};
  {
    QObject gone;
    lyr::ReadOffGuiThread(
        &gone,
        [&gone_release, &gone_delivered]() -> lyr::ReadDelivery {
          while (!gone_release) std::this_thread::sleep_for(std::chrono::milliseconds(5));
          return [&gone_delivered] { gone_delivered = true; };
        },
        1000);
  }
  gone_release = true;
  QTest::qWait(100);
  EXPECT_FALSE(gone_delivered);
}

TEST(CopyHddPage, ChoicesStartAtBwfAndGoIntoTheOptions) {
  lyr::CDlgCopyHDD page("");
  auto* pcm = page.findChild<QComboBox*>("pcmFormatCombo");
  auto* mpeg = page.findChild<QComboBox*>("mpegFormatCombo");
  auto* sha1 = page.findChild<QCheckBox*>("sha1Check");
  ASSERT_TRUE(pcm && mpeg && sha1);
  EXPECT_EQ(pcm->count(), 2);
  EXPECT_EQ(mpeg->itemText(2), "RAW Format");
  EXPECT_EQ(sha1->text(), "Output SHA1");
  lyr::CopyOptions o = page.Options();
  EXPECT_EQ(o.pcm_format, lyr::ExportFormat::Bwf);
  EXPECT_EQ(o.mpeg_format, lyr::ExportFormat::Bwf);
  EXPECT_FALSE(o.output_sha1);
  pcm->setCurrentIndex(0);
  mpeg->setCurrentIndex(2);
  sha1->setChecked(true);
  o = page.Options();
  EXPECT_EQ(o.pcm_format, lyr::ExportFormat::Wave);
  EXPECT_EQ(o.mpeg_format, lyr::ExportFormat::Raw);
  EXPECT_TRUE(o.output_sha1);
}

}  // namespace
