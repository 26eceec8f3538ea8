// The job runner: results, progress, cancel and the question bridge, with
// the GUI thread never waiting for the job.
#include "gui/common/job_runner.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QWidget>
#include <atomic>
#include <chrono>
#include <optional>
#include <thread>

#include "support/qt_env.h"

namespace {

using lyr::JobOutcome;
using lyr::JobRunner;
using lyr_test::WaitFor;
using namespace std::chrono_literals;

struct Ended {
  std::optional<JobOutcome> outcome;
  int count = 0;
  lyr::JobProgress last;
};

void Watch(JobRunner& runner, Ended& ended) {
  QObject::connect(&runner, &JobRunner::progressed, [&ended](const lyr::JobProgress& p) { ended.last = p; });
  QObject::connect(&runner, &JobRunner::finished, [&ended](JobOutcome o) {
    ended.outcome = o;
    ++ended.count;
  });
}

TEST(JobRunner, EndsWithTheJobsResultAndItsLastReport) {
  for (const bool succeeded : {true, false}) {
    QWidget owner;
    JobRunner runner(&owner);
    Ended ended;
    Watch(runner, ended);
    ASSERT_TRUE(runner.Start([&](lyr::JobReporter& r) {
      for (int i = 0; i <= 100000; ++i) r.SetProgress(i % 101);
      r.SetFileProgress(30);
      r.SetProgressText(100, "done");
      return succeeded;
    }));
    EXPECT_TRUE(runner.Running());
    EXPECT_FALSE(runner.Start([](lyr::JobReporter&) { return true; }));  // one at a time
    ASSERT_TRUE(WaitFor([&] { return ended.count == 1; }));
    EXPECT_EQ(*ended.outcome, succeeded ? JobOutcome::kSucceeded : JobOutcome::kFailed);
    EXPECT_EQ(ended.last.status, "done");
    EXPECT_EQ(ended.last.percent, 100);
    EXPECT_EQ(ended.last.file_percent, 30);
    EXPECT_FALSE(runner.Running());
  }
}

TEST(JobRunner, CancelIsAFlagAndTheEndASignal) {
  QWidget owner;
  JobRunner runner(&owner);
  Ended ended;
  Watch(runner, ended);
  std::atomic<bool> saw_cancel{false};
  ASSERT_TRUE(runner.Start([&](lyr::JobReporter& r) {
    while (!r.CancelRequested()) std::this_thread::sleep_for(1ms);
    saw_cancel = true;
    std::this_thread::sleep_for(200ms);  // slow to stop
    return true;
  }));
  const auto start = std::chrono::steady_clock::now();
  runner.Cancel();
  EXPECT_LT(std::chrono::steady_clock::now() - start, 100ms);
  EXPECT_TRUE(runner.CancelAsked());
  ASSERT_TRUE(WaitFor([&] { return ended.count == 1; }));
  EXPECT_TRUE(saw_cancel);
  EXPECT_EQ(*ended.outcome, JobOutcome::kCancelled);
}

TEST(JobRunner, QuestionsAreAnsweredInASlotAndClosedAsNo) {
  QWidget owner;
  owner.show();
  JobRunner runner(&owner);
  Ended ended;
  Watch(runner, ended);
  std::atomic<int> first{-1}, second{-1};
  ASSERT_TRUE(runner.Start([&](lyr::JobReporter& r) {
    first = r.AskAbout("Replace?", "Confirm", "/out/LYR0001.wav") ? 1 : 0;
    second = r.Ask("And this one?", "Confirm") ? 1 : 0;
    r.Message("after the close", "Warning", lyr::MessageIcon::Warning);
    return true;
  }));
  // The box is window-modal on the owner; the GUI thread runs on meanwhile.
  ASSERT_TRUE(WaitFor([&] { return runner.Questions().OpenBox() != nullptr; }));
  QMessageBox* box = runner.Questions().OpenBox();
  EXPECT_EQ(box->windowTitle(), "Confirm");
  EXPECT_EQ(box->parent(), &owner);
  EXPECT_EQ(box->windowModality(), Qt::WindowModal);
  // What it is about is named under it, and what a job asks destroys: No by default.
  EXPECT_EQ(box->informativeText(), "/out/LYR0001.wav");
  EXPECT_EQ(box->standardButton(box->defaultButton()), QMessageBox::No);
  box->button(QMessageBox::Yes)->click();
  ASSERT_TRUE(WaitFor([&] { return first == 1 && runner.Questions().OpenBox() != nullptr; }));
  // The window closes: the open question and every later one are No.
  runner.Questions().Close();
  ASSERT_TRUE(WaitFor([&] { return ended.count == 1; }));
  EXPECT_EQ(second, 0);
  EXPECT_EQ(runner.Questions().OpenBox(), nullptr);
}

TEST(JobRunner, ARunnerGoneWhileItsJobWaitsOnAQuestionLeavesWithoutWaiting) {
  std::atomic<int> answer{-1};
  std::atomic<bool> returned{false};
  {
    QWidget owner;
    owner.show();
    auto runner = std::make_unique<JobRunner>(&owner);
    ASSERT_TRUE(runner->Start([&](lyr::JobReporter& r) {
      answer = r.Ask("Continue?", "Warning") ? 1 : 0;
      std::this_thread::sleep_for(200ms);  // inside an exchange, say
      returned = true;
      return true;
    }));
    ASSERT_TRUE(WaitFor([&] { return runner->Questions().OpenBox() != nullptr; }));
    const auto start = std::chrono::steady_clock::now();
    runner.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 100ms);
  }
  ASSERT_TRUE(WaitFor([&] { return returned.load(); }));
  EXPECT_EQ(answer, 0);
}

}  // namespace
