#include "terminal_window.h"

#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <thread>

namespace lyrctl {
namespace {

std::atomic<bool> g_interrupted{false};

void OnInterrupt(int) { g_interrupted = true; }

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
  status_ = text;
  if (live_) {
    DrawLocked();
  } else if (!quiet_ && !text.empty()) {
    std::fprintf(stderr, "%s\n", text.c_str());
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
  switch (answer_) {
    case Answer::Yes:
      std::fprintf(stderr, "%s: %s yes (--yes)\n", caption.c_str(), text.c_str());
      return true;
    case Answer::No:
      std::fprintf(stderr, "%s: %s no (--no)\n", caption.c_str(), text.c_str());
      return false;
    case Answer::AskTerminal:
      break;
  }
  if (::isatty(STDIN_FILENO) == 0) ++default_answers_;
  const bool yes = AskYesNo(caption + ": " + text);
  DrawLocked();
  return yes;
}

void TerminalWindow::Message(const std::string& text, const std::string& caption, lyr::MessageIcon) {
  std::lock_guard lock(mutex_);
  ClearLineLocked();
  ++messages_;
  std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
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

bool AskYesNo(const std::string& question) {
  if (::isatty(STDIN_FILENO) == 0) {
    std::fprintf(stderr, "%s no (no terminal to ask; use --yes or --no)\n", question.c_str());
    return false;
  }
  std::fprintf(stderr, "%s [y/N] ", question.c_str());
  std::fflush(stderr);
  std::string line;
  if (!std::getline(std::cin, line)) return false;
  return line == "y" || line == "Y" || line == "yes" || line == "Yes";
}

int RunJobOnTerminal(TerminalWindow& window, lyr::ProgressJob::Function job) {
  g_interrupted = false;
  struct sigaction action {}, old_int {}, old_term {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, &old_int);
  sigaction(SIGTERM, &action, &old_term);

  int result;
  {
    lyr::ProgressJob progress(window, std::move(job));
    if (!progress.Start()) {
      result = lyr::kJobFailed;
    } else {
      while (progress.Running() && !g_interrupted) std::this_thread::sleep_for(std::chrono::milliseconds(50));
      if (g_interrupted) {
        window.Finish();
        std::fprintf(stderr, "Terminating...\n");
        progress.Cancel();
      }
      result = progress.Wait();
    }
  }
  window.Finish();
  sigaction(SIGINT, &old_int, nullptr);
  sigaction(SIGTERM, &old_term, nullptr);
  return result;
}

}  // namespace lyrctl
