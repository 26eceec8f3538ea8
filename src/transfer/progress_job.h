#pragma once
#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

#include "transfer/job_reporter.h"

namespace lyr {

// How a job run behind the progress window ended.
constexpr int kJobSucceeded = 1;
constexpr int kJobFailed = 2;
constexpr int kJobCancelled = 0x10002;

// The window a ProgressJob runs behind ("Files Processing"). The job's
// reports arrive on the worker thread; a window that must show them on
// another thread passes them there and waits (the job expects each report to
// be done when the call returns). Its CancelRequested is not asked: the
// ProgressJob keeps the cancel flag.
class ProgressWindow : public JobReporter {
 public:
  bool CancelRequested() const override { return false; }
  // Cancel no longer possible (the Cancel button and the Close command).
  virtual void DisableCancel() {}
  // Closes a question or message the job has open, as its answer No.
  virtual void ClosePopup() {}
  // The job returned by itself (not after cancel) with kJobSucceeded or
  // kJobFailed; called on the worker thread. The window ends with it.
  virtual void JobEnded(int /*result*/) {}
};

// Runs one job on a worker thread behind a progress window, with the
// window's cancel sequence. The job sees a reporter whose CancelRequested is
// this object's cancel flag.
class ProgressJob {
 public:
  using Function = std::function<bool(JobReporter& reporter)>;

  ProgressJob(ProgressWindow& window, Function job);
  // Sets the cancel flag and waits for the worker (at most 20 s for the job
  // to notice, then until the thread ends).
  ~ProgressJob();
  ProgressJob(const ProgressJob&) = delete;
  ProgressJob& operator=(const ProgressJob&) = delete;

  // Empties the status, zeroes both bars and starts the worker. False when
  // the thread cannot be started: the result is then kJobFailed.
  bool Start(bool cancel_allowed = true);

  // The cancel sequence without its wait, for a window that must not block
  // its own thread: cancel flag, open question closed, status
  // "Terminating...", cancel disabled. Poll Running() until it is false,
  // then call Cancel() to end with kJobCancelled.
  void RequestCancel();
  // The whole cancel sequence: RequestCancel, wait in steps of 50 ms until
  // the job has stopped, end with kJobCancelled.
  void Cancel();

  bool Running() const { return running_; }
  bool CancelFlag() const { return cancel_; }
  // Waits until the job has ended by itself or was cancelled; its result.
  int Wait();

 private:
  class WorkerReporter final : public JobReporter {
   public:
    explicit WorkerReporter(ProgressJob& job) : job_(job) {}
    void SetStatus(const std::string& text) override { job_.window_.SetStatus(text); }
    void SetProgress(int percent) override { job_.window_.SetProgress(percent); }
    void SetFileProgress(int percent) override { job_.window_.SetFileProgress(percent); }
    bool Ask(const std::string& text, const std::string& caption) override {
      return job_.window_.Ask(text, caption);
    }
    void Message(const std::string& text, const std::string& caption, MessageIcon icon) override {
      job_.window_.Message(text, caption, icon);
    }
    bool CancelRequested() const override { return job_.cancel_; }

   private:
    ProgressJob& job_;
  };

  void Worker();
  void End(int result);

  ProgressWindow& window_;
  Function job_;
  WorkerReporter reporter_{*this};
  std::atomic<bool> running_{false};
  std::atomic<bool> cancel_{false};
  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable ended_cv_;
  bool ended_ = false;
  int result_ = 0;
};

}  // namespace lyr
