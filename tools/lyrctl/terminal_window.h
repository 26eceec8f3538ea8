#pragma once
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include "job/job_reporter.h"

namespace lyrctl {

// How questions of a job are answered when lyrctl runs it.
enum class Answer { AskTerminal, Yes, No };

// The progress window of a copy or delete job on a terminal: a live bar
// (status, percent, rate, time left) when stderr is a terminal, plain lines
// otherwise. Messages go to stderr; questions are answered by --yes/--no or
// asked on the terminal.
class TerminalWindow final : public lyr::JobReporter {
 public:
  // `total_bytes` is what the job moves, for the rate and the time left.
  TerminalWindow(Answer answer, uint64_t total_bytes, bool quiet);

  void SetStatus(const std::string& text) override;
  void SetProgress(int percent) override;
  void SetFileProgress(int percent) override;
  bool Ask(const std::string& text, const std::string& caption) override;
  void Message(const std::string& text, const std::string& caption, lyr::MessageIcon icon) override;
  // Asked directly (not through RunJobOnTerminal) it is never cancelled.
  bool CancelRequested() const override { return false; }
  // The job returned by itself with kJobSucceeded or kJobFailed.
  void JobEnded(int result);
  // Closes a question the job has open, as its answer No.
  void ClosePopup();
  // Cancel under way: no second cancel.
  void DisableCancel();

  // Ends the live line so that what follows starts on a fresh line.
  void Finish();
  int messages_shown() const { return messages_; }
  // Questions answered No for lack of a terminal (no --yes or --no given).
  int default_answers() const { return default_answers_; }

 private:
  void DrawLocked();
  void ClearLineLocked();

  std::mutex mutex_;
  const Answer answer_;
  const uint64_t total_bytes_;
  const bool quiet_;
  const bool live_;
  std::string status_;
  int percent_ = 0;
  int file_percent_ = 0;
  bool line_open_ = false;
  std::chrono::steady_clock::time_point start_;
  std::chrono::steady_clock::time_point last_draw_{};
  int messages_ = 0;
  std::atomic<int> default_answers_{0};
};

// Runs a job behind the terminal window; the first Ctrl+C cancels it the way
// the window's Cancel button does (an open question closes at once), a
// second one ends lyrctl. Returns kJobSucceeded, kJobFailed or kJobCancelled.
// The job runs on a thread of its own while the terminal's thread watches for
// Ctrl+C (a terminal, not a window: it may wait for the job).
// With `cancel_on_terminate` SIGTERM cancels the job as the first Ctrl+C does.
using TerminalJob = std::function<bool(lyr::JobReporter& reporter)>;
int RunJobOnTerminal(TerminalWindow& window, TerminalJob job, bool cancel_on_terminate = false);

// Asks a yes/no question on the terminal; false without a terminal, and when
// the running job is cancelled while it waits.
bool AskYesNo(const std::string& question);

}  // namespace lyrctl
