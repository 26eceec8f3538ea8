#include "transfer/progress_job.h"

#include <chrono>
#include <system_error>

namespace lyr {
namespace {
constexpr auto kWaitStep = std::chrono::milliseconds(50);
constexpr int kDestroyWaitSteps = 400;  // 20 s
}  // namespace

ProgressJob::ProgressJob(ProgressWindow& window, Function job) : window_(window), job_(std::move(job)) {}

ProgressJob::~ProgressJob() {
  cancel_ = true;
  for (int i = 0; i < kDestroyWaitSteps && running_; ++i) std::this_thread::sleep_for(kWaitStep);
  if (thread_.joinable()) thread_.join();
}

bool ProgressJob::Start(bool cancel_allowed) {
  window_.SetStatus("");
  window_.SetProgress(0);
  window_.SetFileProgress(0);
  if (!cancel_allowed) window_.DisableCancel();
  // Running from here, so that a cancel right after the start waits for the job.
  running_ = true;
  try {
    thread_ = std::thread(&ProgressJob::Worker, this);
  } catch (const std::system_error&) {
    running_ = false;
    End(kJobFailed);
    return false;
  }
  return true;
}

void ProgressJob::Worker() {
  const int result = cancel_ ? kJobFailed : (job_(reporter_) ? kJobSucceeded : kJobFailed);
  running_ = false;
  // After cancel the window has ended already: it is not told again.
  if (cancel_) return;
  window_.JobEnded(result);
  End(result);
}

void ProgressJob::RequestCancel() {
  cancel_ = true;
  window_.ClosePopup();
  window_.SetStatus("Terminating...");
  window_.DisableCancel();
}

void ProgressJob::Cancel() {
  if (!cancel_) RequestCancel();
  while (running_) std::this_thread::sleep_for(kWaitStep);
  End(kJobCancelled);
}

void ProgressJob::End(int result) {
  std::lock_guard lock(mutex_);
  if (ended_) return;
  ended_ = true;
  result_ = result;
  ended_cv_.notify_all();
}

int ProgressJob::Wait() {
  std::unique_lock lock(mutex_);
  ended_cv_.wait(lock, [this] { return ended_; });
  return result_;
}

}  // namespace lyr
