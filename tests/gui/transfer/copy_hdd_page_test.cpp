// The "HDD" page: its folder list, the location combo and the choices the
// copy command reads.
#include "gui/transfer/copy_hdd_page.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QTest>
#include <QTreeWidget>
#include <filesystem>
#include <fstream>

#include "settings/profile_file.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

QStringList Names(QTreeWidget* list) {
  QStringList names;
  for (int i = 0; i < list->topLevelItemCount(); ++i) names << list->topLevelItem(i)->text(0);
  return names;
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
    EXPECT_EQ(Names(list), QStringList{"takes"});
    EXPECT_EQ(list->topLevelItem(0)->text(1), "Folder");

    // A double click on a folder opens it; the combo shows the path.
    QTreeWidgetItem* takes = list->topLevelItem(0);
    emit list->itemDoubleClicked(takes, 0);
    EXPECT_EQ(Names(list), (QStringList{"a.wav", "b.MP2", "c.bwf"}));
    EXPECT_EQ(list->topLevelItem(0)->text(1), " File");
    EXPECT_EQ(page.findChild<QComboBox*>("locationCombo")->currentText(),
              QString::fromStdString((home / "takes").string()));

    // A file written meanwhile shows after Reread.
    std::ofstream(home / "takes" / "e.wav") << "x";
    page.Reread();
    EXPECT_EQ(Names(list).size(), 4);

    // The home folder is one of the places; choosing it opens it.
    auto* combo = page.findChild<QComboBox*>("locationCombo");
    const int at = combo->findData(QString::fromStdString(home.string()));
    ASSERT_GE(at, 0);
    EXPECT_GE(combo->findData(QStringLiteral("/")), 0);
    emit combo->activated(at);
    EXPECT_EQ(page.Options().folder, home.string());
    emit list->itemDoubleClicked(list->topLevelItem(0), 0);
  }
  EXPECT_EQ(lyr::ReadProfileString(ini, "common", "Copy_Path", "", 260), (home / "takes").string());
  // The next page starts where the last one was.
  lyr::CDlgCopyHDD again(ini);
  EXPECT_EQ(again.Options().folder, (home / "takes").string());
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
