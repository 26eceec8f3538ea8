#include "terminal_window.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <system_error>
#include <thread>

#include "text_output.h"

namespace lyrctl {
namespace {

volatile sig_atomic_t g_interrupted = 0;

// Written by a cancel, so that a question waiting for the terminal closes at
// once. Never drained while a job runs: a cancel stays seen.
int g_wake_read = -1;
int g_wake_write = -1;

void OpenWakePipe() {
  if (g_wake_read >= 0) return;
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) return;
  g_wake_read = fds[0];
  g_wake_write = fds[1];
}

void Wake() {
  const int saved = errno;
  if (g_wake_write >= 0) {
    [[maybe_unused]] const ssize_t n = ::write(g_wake_write, "!", 1);
  }
  errno = saved;
}

void OnInterrupt(int) { g_interrupted = 1; }

// A text of several lines shown as its lines: each filtered on its own, so
// that a line break stays a line break and not an escape.
std::string ShownLines(std::string_view text) {
  std::string shown;
  size_t at = 0;
  for (;;) {
    size_t nl = text.find('\n', at);
    std::string_view line = text.substr(at, nl == std::string_view::npos ? std::string_view::npos : nl - at);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    shown += DeviceShownText(line);
    if (nl == std::string_view::npos) break;
    shown += '\n';
    at = nl + 1;
  }
  return shown;
}

std::string Clock(double seconds) {
  const long s = static_cast<long>(seconds + 0.5);
  char buf[32];
  std::snprintf(buf, sizeof buf, "%02ld:%02ld:%02ld", s / 3600, (s % 3600) / 60, s % 60);
  return buf;
}

}  // namespace

TerminalWindow::TerminalWindow(Answer answer, uint64_t total_bytes, bool quiet)
    : answer_(answer),
      total_bytes_(total_bytes),
      quiet_(quiet),
      live_(!quiet && ::isatty(STDERR_FILENO) != 0),
      start_(std::chrono::steady_clock::now()) {}

void TerminalWindow::ClearLineLocked() {
  if (line_open_) {
    std::fprintf(stderr, "\r\033[K");
    line_open_ = false;
  }
}

void TerminalWindow::DrawLocked() {
  if (!live_) return;
  const auto now = std::chrono::steady_clock::now();
  const double elapsed = std::chrono::duration<double>(now - start_).count();
  constexpr int kWidth = 24;
  const int filled = percent_ * kWidth / 100;
  std::string bar(static_cast<size_t>(filled), '#');
  bar.resize(kWidth, '.');
  std::string rate = "   --- MB/s", left = "--:--:--";
  if (elapsed > 0.2 && percent_ > 0) {
    const double done = static_cast<double>(total_bytes_) * percent_ / 100.0;
    char buf[32];
    std::snprintf(buf, sizeof buf, "%6.1f MB/s", done / elapsed / 1e6);
    rate = buf;
    left = Clock(elapsed * (100 - percent_) / percent_);
  }
  std::fprintf(stderr, "\r\033[K%-32.32s [%s] %3d%% (file %3d%%) %s  left %s", status_.c_str(), bar.c_str(),
               percent_, file_percent_, rate.c_str(), left.c_str());
  std::fflush(stderr);
  line_open_ = true;
  last_draw_ = now;
}

void TerminalWindow::SetStatus(const std::string& text) {
  std::lock_guard lock(mutex_);
  status_ = DeviceShownText(text);
  if (live_) {
    DrawLocked();
  } else if (!quiet_ && !text.empty()) {
    std::fprintf(stderr, "%s\n", status_.c_str());
  }
}

void TerminalWindow::SetProgress(int percent) {
  std::lock_guard lock(mutex_);
  percent_ = percent;
  // Redraw at most ten times a second.
  if (live_ && std::chrono::steady_clock::now() - last_draw_ > std::chrono::milliseconds(100)) DrawLocked();
}

void TerminalWindow::SetFileProgress(int percent) {
  std::lock_guard lock(mutex_);
  file_percent_ = percent;
}

bool TerminalWindow::Ask(const std::string& text, const std::string& caption) {
  std::lock_guard lock(mutex_);
  ClearLineLocked();
  const std::string question = caption + ": " + ShownLines(text);
  switch (answer_) {
    case Answer::Yes:
      std::fprintf(stderr, "%s yes (--yes)\n", question.c_str());
      return true;
    case Answer::No:
      std::fprintf(stderr, "%s no (--no)\n", question.c_str());
      return false;
    case Answer::AskTerminal:
      break;
  }
  if (::isatty(STDIN_FILENO) == 0) ++default_answers_;
  const bool yes = AskYesNo(question);
  DrawLocked();
  return yes;
}

void TerminalWindow::Message(const std::string& text, const std::string& caption, lyr::MessageIcon) {
  std::lock_guard lock(mutex_);
  ClearLineLocked();
  ++messages_;
  std::fprintf(stderr, "%s: %s\n", caption.c_str(), ShownLines(text).c_str());
}

void TerminalWindow::JobEnded(int) {
  std::lock_guard lock(mutex_);
  percent_ = percent_ < 100 ? percent_ : 100;
  ClearLineLocked();
}

void TerminalWindow::Finish() {
  std::lock_guard lock(mutex_);
  ClearLineLocked();
}

void TerminalWindow::ClosePopup() { Wake(); }

void TerminalWindow::DisableCancel() {
  // The cancel is under way: its status stays on a line of its own.
  std::lock_guard lock(mutex_);
  if (!live_) return;
  ClearLineLocked();
  std::fprintf(stderr, "%s\n", status_.c_str());
}

bool AskYesNo(const std::string& question) {
  if (::isatty(STDIN_FILENO) == 0) {
    std::fprintf(stderr, "%s no (no terminal to ask; use --yes or --no)\n", question.c_str());
    return false;
  }
  OpenWakePipe();
  std::fprintf(stderr, "%s [y/N] ", question.c_str());
  std::fflush(stderr);
  // The answer is read byte by byte beside the wake pipe: Ctrl+C (or a
  // cancel) closes the question at once as its answer No.
  std::string line;
  for (;;) {
    pollfd fds[2] = {{STDIN_FILENO, POLLIN, 0}, {g_wake_read, POLLIN, 0}};
    const int ready = ::poll(fds, g_wake_read >= 0 ? 2 : 1, -1);
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0 || (g_wake_read >= 0 && fds[1].revents != 0)) {
      std::fprintf(stderr, "\n");
      return false;
    }
    char c = 0;
    const ssize_t n = ::read(STDIN_FILENO, &c, 1);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n <= 0 || c == '\n') break;
    line += c;
  }
  return line == "y" || line == "Y" || line == "yes" || line == "Yes";
}

namespace {

// The window as the running job sees it: cancel is the run's flag.
class CancellableWindow final : public lyr::JobReporter {
 public:
  CancellableWindow(TerminalWindow& window, const std::atomic<bool>& cancel)
      : window_(window), cancel_(cancel) {}
  void SetStatus(const std::string& text) override { window_.SetStatus(text); }
  void SetProgress(int percent) override { window_.SetProgress(percent); }
  void SetFileProgress(int percent) override { window_.SetFileProgress(percent); }
  bool Ask(const std::string& text, const std::string& caption) override {
    return window_.Ask(text, caption);
  }
  void Message(const std::string& text, const std::string& caption, lyr::MessageIcon icon) override {
    window_.Message(text, caption, icon);
  }
  bool CancelRequested() const override { return cancel_; }

 private:
  TerminalWindow& window_;
  const std::atomic<bool>& cancel_;
};

}  // namespace

int RunJobOnTerminal(TerminalWindow& window, TerminalJob job, bool cancel_on_terminate) {
  OpenWakePipe();
  char drained[16];
  while (g_wake_read >= 0 && ::read(g_wake_read, drained, sizeof drained) > 0) {
  }
  g_interrupted = 0;
  // The first Ctrl+C cancels as the window's Cancel does; the handler then
  // falls back to the default, so a second one ends lyrctl at once (the file
  // being written stays as ".partial"). SIGTERM is caught the same way only
  // for jobs that run tools of their own, which must not outlive lyrctl.
  struct sigaction action {
  }, old_int{}, old_term{};
  action.sa_handler = OnInterrupt;
  action.sa_flags = SA_RESETHAND;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, &old_int);
  if (cancel_on_terminate) sigaction(SIGTERM, &action, &old_term);

  int result = lyr::kJobFailed;
  window.SetStatus("");
  window.SetProgress(0);
  window.SetFileProgress(0);
  std::atomic<bool> cancel{false};
  std::atomic<bool> running{true};
  int job_result = lyr::kJobFailed;
  CancellableWindow reporter(window, cancel);
  // The worker never takes Ctrl+C: its exchanges with the recorder are not
  // cut short by the handler, and the main thread sees the interrupt.
  sigset_t interrupt, old_mask;
  sigemptyset(&interrupt);
  sigaddset(&interrupt, SIGINT);
  if (cancel_on_terminate) sigaddset(&interrupt, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &interrupt, &old_mask);
  std::thread worker;
  try {
    worker = std::thread([&] {
      job_result = job(reporter) ? lyr::kJobSucceeded : lyr::kJobFailed;
      running = false;
    });
  } catch (const std::system_error&) {
    running = false;
  }
  pthread_sigmask(SIG_SETMASK, &old_mask, nullptr);
  if (worker.joinable()) {
    while (running && !g_interrupted) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    if (g_interrupted) {
      // The cancel flag is set before the open question closes, so the job
      // takes the closed question for the cancel it is.
      cancel = true;
      window.ClosePopup();
      window.SetStatus("Terminating...");
      window.DisableCancel();
    }
    worker.join();
    // A cancelled job does not report its end.
    if (cancel) {
      result = lyr::kJobCancelled;
    } else {
      window.JobEnded(job_result);
      result = job_result;
    }
  }
  window.Finish();
  sigaction(SIGINT, &old_int, nullptr);
  if (cancel_on_terminate) sigaction(SIGTERM, &old_term, nullptr);
  return result;
}

}  // namespace lyrctl
