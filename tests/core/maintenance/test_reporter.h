#pragma once
#include <string>
#include <vector>

#include "job/job_reporter.h"

namespace lyr_test {

// Records what a maintenance procedure showed and answers its confirmation.
class MaintenanceSpy final : public lyr::JobReporter {
 public:
  struct Shown {
    std::string text, caption;
    lyr::MessageIcon icon;
  };
  struct Asked {
    std::string title, prompt, information;
  };

  void Message(const std::string& text, const std::string& caption, lyr::MessageIcon icon) override {
    messages.push_back({text, caption, icon});
  }
  bool Confirm(const std::string& title, const std::string& prompt, const std::string& information) override {
    questions.push_back({title, prompt, information});
    return confirm;
  }
  void SetProgressText(int percent, const std::string&) override {
    last_progress = percent;
    if (cancel_from_percent >= 0 && percent >= cancel_from_percent) cancel = true;
  }
  void SetStatus(const std::string&) override {}
  void SetProgress(int) override {}
  void SetFileProgress(int) override {}
  bool Ask(const std::string&, const std::string&) override { return false; }
  bool CancelRequested() const override { return cancel; }

  bool confirm = false;
  bool cancel = false;
  int cancel_from_percent = -1;  // cancel once progress reaches it (-1: never)
  int last_progress = -1;
  std::vector<Shown> messages;
  std::vector<Asked> questions;
};

}  // namespace lyr_test
