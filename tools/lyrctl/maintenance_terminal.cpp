#include "maintenance_terminal.h"

#include <signal.h>
#include <unistd.h>

#include <cstdio>

#include "terminal_window.h"
#include "text_output.h"

namespace lyrctl {
namespace {

volatile sig_atomic_t g_stop_asked = 0;
struct sigaction g_old_int {};

void OnInterrupt(int) {
  g_stop_asked = 1;
  // Where the procedure stops, and in what state, is told at its end.
  static const char kNote[] = "\nlyrctl: stop asked: the update stops at the next point where that is safe\n";
  [[maybe_unused]] const ssize_t n = ::write(STDERR_FILENO, kNote, sizeof kNote - 1);
}

}  // namespace

MaintenanceTerminal::MaintenanceTerminal(bool yes, bool quiet)
    : yes_(yes), quiet_(quiet), live_(!quiet && ::isatty(STDERR_FILENO) != 0) {
  g_stop_asked = 0;
}

void MaintenanceTerminal::HoldInterrupts() {
  if (hold_interrupts_) return;
  // An exchange with the recorder is never cut short by Ctrl+C: it only
  // asks the procedure to stop.
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, &g_old_int);
  hold_interrupts_ = true;
}

MaintenanceTerminal::~MaintenanceTerminal() {
  EndLine();
  if (hold_interrupts_) sigaction(SIGINT, &g_old_int, nullptr);
}

void MaintenanceTerminal::EndLine() {
  if (!line_open_) return;
  std::fprintf(stderr, "\n");
  line_open_ = false;
}

void MaintenanceTerminal::Message(const std::string& text, const std::string& caption,
                                  lyr::MessageIcon icon) {
  EndLine();
  ++messages_;
  // The success goes with the command's output, except where that is JSON.
  std::FILE* to = icon == lyr::MessageIcon::Information && !quiet_ ? stdout : stderr;
  std::fprintf(to, "%s: %s\n", caption.c_str(), DeviceShownLines(text).c_str());
  std::fflush(to);
}

bool MaintenanceTerminal::Confirm(const std::string& title, const std::string& prompt,
                                  const std::string& information) {
  return ConfirmShown(DeviceShownLines(title), DeviceShownLines(prompt), DeviceShownLines(information));
}

bool MaintenanceTerminal::ConfirmShown(const std::string& title, const std::string& prompt,
                                       const std::string& information) {
  EndLine();
  std::fprintf(stderr, "%s\n%s\n%s\n", title.c_str(), prompt.c_str(), information.c_str());
  if (yes_) {
    std::fprintf(stderr, "Yes (--yes)\n");
    return true;
  }
  return AskYesNo("Yes?") && !CancelRequested();
}

bool MaintenanceTerminal::Ask(const std::string& text, const std::string& caption) {
  EndLine();
  std::fprintf(stderr, "%s\n", DeviceShownLines(caption).c_str());
  const std::string shown = DeviceShownLines(text);
  if (yes_) {
    std::fprintf(stderr, "%s Yes (--yes)\n", shown.c_str());
    return true;
  }
  return AskYesNo(shown) && !CancelRequested();
}

void MaintenanceTerminal::SetProgressText(int percent, const std::string& doing) {
  if (quiet_ || percent == last_percent_) return;
  last_percent_ = percent;
  if (live_) {
    std::fprintf(stderr, "\r%-24s %3d%%", doing.c_str(), percent);
    std::fflush(stderr);
    line_open_ = true;
  }
}

bool MaintenanceTerminal::CancelRequested() const { return g_stop_asked != 0; }

lyr::Status RequireConfirmation(bool yes, const std::string& what) {
  if (yes || ::isatty(STDIN_FILENO) != 0) return {};
  return UsageError(what + " needs a confirmation: no terminal to ask, use --yes");
}

}  // namespace lyrctl
