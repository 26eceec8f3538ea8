// The copy and delete commands through the "Files Processing" dialog against
// the in-process stand-in, into a real folder.
#include "gui/transfer/transfer_commands.h"

#include <gtest/gtest.h>

#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <filesystem>
#include <fstream>

#include "core/transfer/file_checks.h"
#include "gui/common/task_queue.h"
#include "gui/transfer/dialog_driver.h"
#include "settings/recorder_model.h"
#include "support/emulated_recorder.h"
#include "support/qt_env.h"
#include "support/temp_dir.h"
#include "transfer/sha1.h"

namespace {

namespace fs = std::filesystem;
using lyr_test::DialogDriver;

using lyr_test::ReadFile;
using lyr_test::Sha1Of;

std::string TextOf(const fs::path& path) {
  std::ifstream in(path);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Answers the command's own question box (outside the progress dialog).
void AnswerNextBox(QMessageBox::StandardButton button, QString* text = nullptr) {
  QTimer::singleShot(0, [button, text] {
    for (QWidget* w : QApplication::topLevelWidgets()) {
      if (auto* box = qobject_cast<QMessageBox*>(w); box != nullptr && box->isVisible()) {
        if (text != nullptr) *text = box->windowTitle() + "|" + box->text();
        box->button(button)->click();
        return;
      }
    }
    AnswerNextBox(button, text);
  });
}

class TransferCommands : public ::testing::Test {
 protected:
  lyr_test::EmulatedRecorder recorder_;
  lyr_test::TempDir out_;
  std::unique_ptr<lyr::RecorderLink> link_ = recorder_.MakeLink();
  lyr::RecorderModel model_;
  lyr::TaskQueue worker_;
  lyr::CTransferCommands commands_{*link_, model_, &worker_, nullptr};

  lyr::CopyOptions Options(bool sha1) {
    lyr::CopyOptions o;
    o.folder = out_.path().string();  // no trailing separator: the command adds it
    o.output_sha1 = sha1;
    return o;
  }
};

TEST_F(TransferCommands, CopiesFilesWithMatchingDigests) {
  const uint32_t a = recorder_.AddPcm("LYR0001.WAV", 200000);
  const uint32_t b = recorder_.AddPcm("LYR0002.WAV", 70000);
  QSignalSpy finished(&commands_, &lyr::CTransferCommands::copyFinished);
  EXPECT_EQ(commands_.CopyAndSave({a, b}, Options(true)), lyr::kJobSucceeded);
  ASSERT_EQ(finished.count(), 1);
  for (const auto& [name, entry] : {std::pair{"LYR0001", a}, std::pair{"LYR0002", b}}) {
    const auto wav = ReadFile(out_ / (std::string(name) + ".wav"));
    ASSERT_GT(wav.size(), recorder_.DataOf(entry).size()) << name;  // header + data
    const auto data = recorder_.DataOf(entry);
    EXPECT_TRUE(std::equal(data.begin(), data.end(), wav.end() - static_cast<long>(data.size()))) << name;
    EXPECT_EQ(TextOf(out_ / (std::string(name) + ".txt")), Sha1Of(wav)) << name;
  }
}

TEST_F(TransferCommands, CancelMidJobKeepsCompleteFilesOnly) {
  recorder_.config().slow_reply_ms = 3;  // each 64 KiB piece takes a few ms
  std::vector<uint32_t> entries;
  for (const char* name : {"A.WAV", "B.WAV", "C.WAV"}) entries.push_back(recorder_.AddPcm(name, 2 << 20));
  bool clicked = false;
  DialogDriver driver([&](lyr::CProgressDlg* d) {
    if (d == nullptr || d->findChild<QLabel*>("statusText")->text() != "Copying... B.WAV") return false;
    QTest::mouseClick(d->findChild<QPushButton*>("cancelButton"), Qt::LeftButton);
    clicked = true;
    return true;
  });
  EXPECT_EQ(commands_.CopyAndSave(entries, Options(true)), lyr::kJobCancelled);
  ASSERT_TRUE(clicked);
  const auto a = ReadFile(out_ / "A.wav");
  ASSERT_FALSE(a.empty());
  EXPECT_EQ(TextOf(out_ / "A.txt"), Sha1Of(a));
  std::vector<std::string> left;
  for (const auto& e : fs::directory_iterator(out_.path())) left.push_back(e.path().filename().string());
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left, (std::vector<std::string>{"A.txt", "A.wav"}));
}

// The recorder leaves in the middle of B: the job's own error, then a notice
// that names the complete copy and the bytes kept under ".partial". The bars
// say what they measure meanwhile.
TEST_F(TransferCommands, UnplugMidCopyNamesWhatWasKept) {
  recorder_.config().slow_reply_ms = 3;
  std::vector<uint32_t> entries;
  for (const char* name : {"A.WAV", "B.WAV"}) entries.push_back(recorder_.AddPcm(name, 2 << 20));
  bool unplugged = false;
  QString file_label, overall_label, error;
  DialogDriver driver([&](lyr::CProgressDlg* d) {
    if (d == nullptr) return false;
    if (!unplugged && d->findChild<QLabel*>("statusText")->text() == "Copying... B.WAV") {
      file_label = d->findChild<QLabel*>("fileBarLabel")->text();
      overall_label = d->findChild<QLabel*>("overallBarLabel")->text();
      recorder_.config().disconnect_after = 1;
      EXPECT_TRUE(commands_.RecorderLeft());
      unplugged = true;
    }
    if (QMessageBox* box = lyr_test::ShownJobBox(d); box != nullptr && unplugged) {
      error = box->text();
      box->button(QMessageBox::Ok)->click();
      return true;
    }
    return false;
  });
  EXPECT_EQ(commands_.CopyAndSave(entries, Options(false)), lyr::kJobFailed);
  ASSERT_TRUE(unplugged);
  EXPECT_TRUE(file_label.startsWith("Current file: ")) << file_label.toStdString();
  EXPECT_TRUE(overall_label.startsWith("Whole job: ")) << overall_label.toStdString();
  EXPECT_EQ(error, "Read file error!");
  QMessageBox* notice = nullptr;
  for (QWidget* w : QApplication::topLevelWidgets())
    if (w->objectName() == "unplugNoticeBox" && w->isVisible()) notice = qobject_cast<QMessageBox*>(w);
  ASSERT_NE(notice, nullptr);
  const QString text = notice->text();
  EXPECT_TRUE(text.contains(QString::fromStdString((out_ / "A.wav").string()))) << text.toStdString();
  EXPECT_TRUE(text.contains(QString::fromStdString((out_ / "B.wav.partial").string()))) << text.toStdString();
  EXPECT_TRUE(fs::exists(out_ / "B.wav.partial"));
  notice->close();
  // Without the recorder leaving, no notice: the job ran to its end.
  EXPECT_FALSE(commands_.RecorderLeft());
}

TEST_F(TransferCommands, ReplaceQuestionNoKeepsTheOldFile) {
  const uint32_t a = recorder_.AddPcm("LYR0001.WAV", 5000);
  std::ofstream(out_ / "LYR0001.wav") << "old";
  bool asked = false;
  DialogDriver driver([&](lyr::CProgressDlg* d) {
    QMessageBox* box = lyr_test::ShownJobBox(d);
    if (box == nullptr) return false;
    EXPECT_EQ(box->text(), "Would you like to replace the existing file with this one?");
    EXPECT_EQ(box->informativeText().toStdString(), (out_ / "LYR0001.wav").string());
    EXPECT_EQ(box->standardButton(box->defaultButton()), QMessageBox::No);
    asked = true;
    box->button(QMessageBox::No)->click();
    return true;
  });
  EXPECT_EQ(commands_.CopyAndSave({a}, Options(false)), lyr::kJobSucceeded);
  EXPECT_TRUE(asked);
  EXPECT_EQ(TextOf(out_ / "LYR0001.wav"), "old");
  ASSERT_EQ(commands_.LastCopyResults().size(), 1u);
  EXPECT_EQ(commands_.LastCopyResults()[0].outcome, lyr::CopyOutcome::Declined);
}

TEST_F(TransferCommands, DeleteAsksAndReturnsTheDoneList) {
  const uint32_t a = recorder_.AddPcm("A.WAV", 5000);
  const uint32_t b = recorder_.AddPcm("B.WAV", 5000);
  const uint32_t c = recorder_.AddPcm("C.WAV", 5000);
  QSignalSpy deleted(&commands_, &lyr::CTransferCommands::deleteFinished);
  QSignalSpy refreshed(&commands_, &lyr::CTransferCommands::modelRefreshed);

  QString asked;
  AnswerNextBox(QMessageBox::No, &asked);
  EXPECT_TRUE(commands_.Delete({a, b}).empty());
  EXPECT_EQ(asked, "Warning|Are you sure to delete all files selected?");
  EXPECT_EQ(deleted.count(), 0);
  EXPECT_NE(recorder_.store().Find(a), nullptr);

  AnswerNextBox(QMessageBox::Yes);
  EXPECT_EQ(commands_.Delete({a, c}), (std::vector<uint32_t>{a, c}));
  ASSERT_EQ(deleted.count(), 1);
  EXPECT_EQ(deleted[0][0].value<std::vector<uint32_t>>(), (std::vector<uint32_t>{a, c}));
  EXPECT_EQ(recorder_.store().Find(a), nullptr);
  EXPECT_NE(recorder_.store().Find(b), nullptr);
  // The model is re-read off the GUI thread and its listeners told.
  EXPECT_TRUE(lyr_test::WaitFor([&] { return refreshed.count() == 1; }));
}

// The questions name what they act on, and a copy whose ticked rows are
// not its target asks before it copies anything.
TEST_F(TransferCommands, QuestionsNameTheirRecordingsAndTheTicksLeftAlone) {
  const uint32_t a = recorder_.AddPcm("LYR0006.WAV", 5000);
  lyr::RecordingSelection selection;
  selection.acted_on = {{"LYR0006", true, false}};
  selection.ticked_left = {"LYR0002", "LYR0003"};

  QString informative;
  QMessageBox::StandardButton preset = QMessageBox::NoButton;
  const auto answer_no = [&] {
    QTimer::singleShot(0, [&] {
      for (QWidget* w : QApplication::topLevelWidgets()) {
        if (auto* box = qobject_cast<QMessageBox*>(w); box != nullptr && box->isVisible()) {
          informative = box->informativeText();
          preset = box->standardButton(box->defaultButton());
          box->button(QMessageBox::No)->click();
        }
      }
    });
  };
  answer_no();
  EXPECT_TRUE(commands_.Delete({a}, &selection).empty());
  EXPECT_EQ(preset, QMessageBox::No);
  EXPECT_EQ(informative.toStdString(),
            "1 recording: LYR0006.\nNone of them was ever copied to the PC.\n"
            "Ticked in the \"Playing\" column but not highlighted, so left alone: LYR0002, LYR0003.");
  EXPECT_NE(recorder_.store().Find(a), nullptr);

  QSignalSpy copied(&commands_, &lyr::CTransferCommands::copyFinished);
  informative.clear();
  answer_no();
  EXPECT_EQ(commands_.CopyAndSave({a}, Options(false), &selection), 0);
  EXPECT_TRUE(informative.startsWith("1 recording: LYR0006.")) << informative.toStdString();
  EXPECT_EQ(copied.count(), 0);
  EXPECT_FALSE(fs::exists(out_ / "LYR0006.wav"));

  // No ticks left out: the copy runs without a question.
  selection.ticked_left.clear();
  EXPECT_EQ(commands_.CopyAndSave({a}, Options(false), &selection), lyr::kJobSucceeded);
  EXPECT_TRUE(fs::exists(out_ / "LYR0006.wav"));
}

}  // namespace
