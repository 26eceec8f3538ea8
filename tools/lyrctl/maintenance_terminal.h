#pragma once
#include <string>

#include "commands.h"
#include "job/job_reporter.h"

namespace lyrctl {

// The maintenance procedures' window on a terminal: messages on stderr as
// "Caption: text" (the information of a success on stdout), the
// confirmation answered by --yes or asked on the terminal, progress as a
// live line when stderr is a terminal. Ctrl+C ends lyrctl as usual (at a
// question nothing has been sent yet) until HoldInterrupts: from then on it
// only asks to stop, and the procedure decides where stopping is safe; the
// command then says what state the recorder was left in.
class MaintenanceTerminal final : public lyr::JobReporter {
 public:
  MaintenanceTerminal(bool yes, bool quiet);
  ~MaintenanceTerminal() override;
  MaintenanceTerminal(const MaintenanceTerminal&) = delete;
  MaintenanceTerminal& operator=(const MaintenanceTerminal&) = delete;

  // The procedures' texts may hold the recorder's (the file name prefix):
  // they reach the terminal through DeviceShownText.
  void Message(const std::string& text, const std::string& caption, lyr::MessageIcon icon) override;
  bool Confirm(const std::string& title, const std::string& prompt, const std::string& information) override;
  // The same question with texts lyrctl has already made fit to show.
  bool ConfirmShown(const std::string& title, const std::string& prompt, const std::string& information);
  void SetProgressText(int percent, const std::string& doing) override;
  bool CancelRequested() const override;
  // The procedures report their progress with its text only.
  void SetStatus(const std::string&) override {}
  void SetProgress(int) override {}
  void SetFileProgress(int) override {}
  bool Ask(const std::string& text, const std::string& caption) override;

  void HoldInterrupts();
  int messages_shown() const { return messages_; }

 private:
  void EndLine();

  const bool yes_;
  const bool quiet_;
  const bool live_;
  bool hold_interrupts_ = false;
  bool line_open_ = false;
  int last_percent_ = -1;
  int messages_ = 0;
};

// A command that asks for confirmation runs only with --yes or with a
// terminal to ask on: otherwise a usage error, before the recorder is opened.
lyr::Status RequireConfirmation(bool yes, const std::string& what);

}  // namespace lyrctl
