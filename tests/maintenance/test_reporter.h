#pragma once
#include <string>
#include <vector>

#include "maintenance/maintenance_reporter.h"

namespace lyr_test {

// Records what a maintenance procedure showed and answers its confirmation.
class MaintenanceSpy final : public lyr::MaintenanceReporter {
 public:
  struct Shown {
    std::string text, caption;
    Icon icon;
  };
  struct Asked {
    std::string title, prompt, information;
  };

  void Message(const std::string& text, const std::string& caption, Icon icon) override {
    messages.push_back({text, caption, icon});
  }
  bool Confirm(const std::string& title, const std::string& prompt, const std::string& information) override {
    questions.push_back({title, prompt, information});
    return confirm;
  }
  void SetProgress(int percent, const std::string&) override { last_progress = percent; }
  bool CancelRequested() const override { return cancel; }

  bool confirm = false;
  bool cancel = false;
  int last_progress = -1;
  std::vector<Shown> messages;
  std::vector<Asked> questions;
};

}  // namespace lyr_test
