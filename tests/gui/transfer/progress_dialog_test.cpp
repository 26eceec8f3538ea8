// The "Files Processing" dialog: its buttons, its bars, the cancel sequence
// without blocking the GUI thread, and the job's questions.
#include "gui/transfer/progress_dialog.h"

#include <gtest/gtest.h>

#include <QCloseEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <atomic>
#include <chrono>
#include <thread>

#include "gui/transfer/dialog_driver.h"

namespace {

using lyr::CProgressDlg;
using lyr_test::DialogDriver;
using namespace std::chrono_literals;

QPushButton* CancelOf(CProgressDlg* d) { return d->findChild<QPushButton*>("cancelButton"); }
QString StatusOf(CProgressDlg* d) { return d->findChild<QLabel*>("statusText")->text(); }

// A job that reports, then waits until the test lets it go (or cancel).
struct HeldJob {
  std::atomic<bool> release{false};
  std::atomic<bool> result{true};
  lyr::JobRunner::Job Function() {
    return [this](lyr::JobReporter& r) {
      r.SetStatus("Copying... take");
      r.SetProgress(40);
      r.SetFileProgress(70);
      while (!release && !r.CancelRequested()) std::this_thread::sleep_for(1ms);
      return result.load();
    };
  }
};

TEST(ProgressDialog, ButtonsAndBarsWhileTheJobRunsAndItsResult) {
  struct Case {
    int bars;
    bool cancel_allowed;
    bool job_result;
    int expected;
  };
  for (const Case c : {Case{2, true, true, lyr::kJobSucceeded}, Case{1, false, false, lyr::kJobFailed}}) {
    SCOPED_TRACE(c.bars);
    HeldJob job;
    job.result = c.job_result;
    bool checked = false;
    DialogDriver driver([&](CProgressDlg* d) {
      if (d == nullptr || StatusOf(d) != "Copying... take") return false;
      EXPECT_EQ(d->windowTitle(), "Please wait...");
      EXPECT_EQ(CancelOf(d)->isEnabled(), c.cancel_allowed);
      EXPECT_EQ(d->findChild<QProgressBar*>("fileBar")->isVisible(), c.bars == 2);
      EXPECT_TRUE(d->findChild<QProgressBar*>("overallBar")->isVisible());
      EXPECT_EQ(d->findChild<QProgressBar*>("overallBar")->value(), 40);
      if (!c.cancel_allowed) {
        // Escape and the close box do nothing while cancel is not possible.
        QTest::keyClick(d, Qt::Key_Escape);
        d->close();
        EXPECT_TRUE(d->isVisible());
        EXPECT_FALSE(d->Cancelling());
      }
      checked = true;
      job.release = true;
      return true;
    });
    EXPECT_EQ(lyr::RunProgressDialog(nullptr, job.Function(), "Please wait...", c.bars, c.cancel_allowed),
              c.expected);
    EXPECT_TRUE(checked);
  }
}

TEST(ProgressDialog, CancelRunsWithoutBlockingTheGuiThread) {
  // The job takes 300 ms to stop after it saw the cancel; the GUI thread keeps
  // serving its timer meanwhile.
  std::atomic<bool> saw_cancel{false};
  auto slow_to_stop = [&](lyr::JobReporter& r) {
    r.SetStatus("Deleting... take");
    while (!r.CancelRequested()) std::this_thread::sleep_for(1ms);
    saw_cancel = true;
    std::this_thread::sleep_for(300ms);
    return true;
  };
  int ticks_while_terminating = 0;
  bool terminating_seen = false;
  for (const char* how : {"button", "escape", "close"}) {
    SCOPED_TRACE(how);
    saw_cancel = false;
    ticks_while_terminating = 0;
    terminating_seen = false;
    bool asked = false;
    DialogDriver driver(
        [&](CProgressDlg* d) {
          if (d == nullptr) return false;
          if (!asked) {
            if (StatusOf(d) != "Deleting... take") return false;
            asked = true;
            if (std::string(how) == "button")
              QTest::mouseClick(CancelOf(d), Qt::LeftButton);
            else if (std::string(how) == "escape")
              QTest::keyClick(d, Qt::Key_Escape);
            else
              d->close();
            return false;
          }
          if (StatusOf(d) == "Terminating...") {
            terminating_seen = true;
            EXPECT_FALSE(CancelOf(d)->isEnabled());
            EXPECT_TRUE(d->Cancelling());
            ++ticks_while_terminating;
          }
          return false;
        },
        5);
    EXPECT_EQ(lyr::RunProgressDialog(nullptr, slow_to_stop, "Please wait...", 1, true), lyr::kJobCancelled);
    EXPECT_TRUE(saw_cancel);
    EXPECT_TRUE(terminating_seen);
    // 300 ms at a 5 ms timer: far more than a handful of ticks when nothing blocks.
    EXPECT_GT(ticks_while_terminating, 10);
  }
}

TEST(ProgressDialog, JobQuestionsAreAnsweredOrClosedAsNoByCancel) {
  for (const char* how : {"yes", "no", "cancel"}) {
    SCOPED_TRACE(how);
    std::atomic<int> answer{-1};
    std::atomic<bool> after_question_cancel{false};
    auto asking = [&](lyr::JobReporter& r) {
      answer =
          r.Ask("Would you like to replace the existing file with this one?", "Confirm File Replace") ? 1 : 0;
      while (std::string(how) == "cancel" && !r.CancelRequested()) std::this_thread::sleep_for(1ms);
      after_question_cancel = r.CancelRequested();
      return true;
    };
    DialogDriver driver([&](CProgressDlg* d) {
      QMessageBox* box = lyr_test::ShownJobBox(d);
      if (box == nullptr) return false;
      EXPECT_EQ(box->windowTitle(), "Confirm File Replace");
      EXPECT_EQ(box->text(), "Would you like to replace the existing file with this one?");
      EXPECT_EQ(box->icon(), QMessageBox::Warning);
      EXPECT_EQ(box->parent(), d);
      if (std::string(how) == "cancel")
        QTest::mouseClick(CancelOf(d), Qt::LeftButton);
      else
        QTest::mouseClick(box->button(std::string(how) == "yes" ? QMessageBox::Yes : QMessageBox::No),
                          Qt::LeftButton);
      return true;
    });
    const int result = lyr::RunProgressDialog(nullptr, asking, "Please wait...", 2, true);
    EXPECT_EQ(answer, std::string(how) == "yes" ? 1 : 0);
    EXPECT_EQ(result, std::string(how) == "cancel" ? lyr::kJobCancelled : lyr::kJobSucceeded);
    EXPECT_EQ(after_question_cancel, std::string(how) == "cancel");
  }
}

TEST(ProgressDialog, ManyReportsAreCoalesced) {
  // A million reports must not queue a million updates.
  auto chatty = [](lyr::JobReporter& r) {
    for (int i = 0; i < 1000000; ++i) {
      r.SetProgress(i % 101);
      r.SetFileProgress(i % 101);
    }
    r.SetProgress(100);
    r.SetStatus("done");
    return true;
  };
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(lyr::RunProgressDialog(nullptr, chatty, "Please wait...", 2, true), lyr::kJobSucceeded);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);
}

}  // namespace
