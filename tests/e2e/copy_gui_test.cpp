// The copy page and the copy command end to end, on a real display (run
// under xvfb-run by CTest) against the stand-in served through FUSE: the
// folder is chosen by double clicks in the page's list, "Output SHA1" by a
// click, the recordings are copied behind the "Files Processing" dialog, and
// the files are checked against lyrctl export of the same recordings and
// against sha1sum. The play list's command is not part of this run: the test
// hands the command the first two recordings, as the list would.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QTest>
#include <QTreeWidget>

#include "gui/transfer/copy_hdd_page.h"
#include "e2e/e2e_support.h"
#include "link/recorder_link.h"
#include "recordings/recording_catalogue.h"
#include "session/connection.h"
#include "settings/recorder_model.h"
#include "job/job_reporter.h"
#include "gui/transfer/transfer_commands.h"

namespace {

namespace fs = std::filesystem;
using lyr_test::ServedRecorder;
using lyr_test::Slurp;

QTreeWidgetItem* Row(QTreeWidget* list, const QString& name) {
  for (int i = 0; i < list->topLevelItemCount(); ++i)
    if (list->topLevelItem(i)->text(0) == name) return list->topLevelItem(i);
  return nullptr;
}

void DoubleClick(QTreeWidget* list, QTreeWidgetItem* item) {
  const QPoint at = list->visualItemRect(item).center();
  // The view takes a double click only on the row its press went to.
  QTest::mousePress(list->viewport(), Qt::LeftButton, {}, at);
  QTest::mouseRelease(list->viewport(), Qt::LeftButton, {}, at);
  QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, at);
}

TEST(CopyGui, TwoRecordingsThroughTheCopyPageMatchLyrctlAndSha1sum) {
  LYR_REQUIRE_FUSE();
  ServedRecorder rec;
  ASSERT_TRUE(rec.Start());
  const fs::path home = rec.dir() / "home";
  fs::create_directories(home / "Recordings" / "Today");
  setenv("HOME", home.c_str(), 1);

  int argc = 1;
  char name[] = "e2e_copy_gui";
  char* argv[] = {name, nullptr};
  QApplication app(argc, argv);

  lyr::RecorderLink link;
  link.ResetLinkState();
  ASSERT_EQ(link.OpenLink(rec.disk()), 0);
  link.SetDriveOpen(true);
  lyr::RecorderModel model;
  ASSERT_EQ(lyr::CompleteConnection(link, model), lyr::ConnectionResult::kReady);
  lyr::RecordingCatalogue catalogue(link);
  ASSERT_NE(catalogue.RefreshRecordings(), 0);
  ASSERT_GE(catalogue.RowCount(), 2u);
  const std::vector<uint32_t> entries = {catalogue.Row(0).entry, catalogue.Row(1).entry};

  lyr::CDlgCopyHDD page((rec.dir() / "cfgfile.ini").string());
  page.resize(560, 420);
  page.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&page));
  auto* list = page.findChild<QTreeWidget*>("localFileList");
  // Folders are read off the GUI thread: their rows come a moment later.
  const auto shows = [list](const char* name) {
    return QTest::qWaitFor([list, name] { return Row(list, name) != nullptr; }, 5000);
  };
  ASSERT_TRUE(shows("Recordings"));
  DoubleClick(list, Row(list, "Recordings"));
  ASSERT_TRUE(shows("Today")) << page.Options().folder << " rows " << list->topLevelItemCount();
  DoubleClick(list, Row(list, "Today"));
  const fs::path out = home / "Recordings" / "Today";
  ASSERT_EQ(page.Options().folder, out.string());
  page.findChild<QComboBox*>("pcmFormatCombo")->setCurrentIndex(0);
  page.findChild<QComboBox*>("mpegFormatCombo")->setCurrentIndex(0);
  auto* sha1 = page.findChild<QCheckBox*>("sha1Check");
  QTest::mouseClick(sha1, Qt::LeftButton, {}, QPoint(8, sha1->height() / 2));
  ASSERT_TRUE(page.Options().output_sha1);

  lyr::CTransferCommands commands(link, model, nullptr, &page);
  QObject::connect(&commands, &lyr::CTransferCommands::copyFinished, &page, &lyr::CDlgCopyHDD::Reread);
  ASSERT_EQ(commands.CopyAndSave(entries, page.Options()), lyr::kJobSucceeded);
  link.CloseDrive();

  // The page lists the two copies (digests are not recordings).
  EXPECT_TRUE(QTest::qWaitFor([list] { return list->topLevelItemCount() == 2; }, 5000))
      << list->topLevelItemCount();

  const fs::path theirs = rec.dir() / "lyrctl";
  const auto r = rec.Lyrctl({"export", "--quiet", "--yes", "--sha1", "--pcm-format", "wav", "--mpeg-format",
                             "wav", "--to", theirs.string(), catalogue.Row(0).name, catalogue.Row(1).name});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  int files = 0;
  for (const auto& e : fs::directory_iterator(out)) {
    const fs::path p = e.path();
    if (p.extension() != ".wav") continue;
    ++files;
    SCOPED_TRACE(p.string());
    EXPECT_EQ(Slurp(p), Slurp(theirs / p.filename()));
    fs::path digest = p;
    digest.replace_extension(".txt");
    const auto sum = lyr_test::Run({"/usr/bin/sha1sum", p.string()});
    EXPECT_EQ(Slurp(digest), sum.out.substr(0, 40));
  }
  EXPECT_EQ(files, 2);
}

}  // namespace
