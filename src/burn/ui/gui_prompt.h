#pragma once
// Message boxes asked for from a worker thread: shown on the GUI thread with
// their owner as parent while the worker waits for the answer. Release
// answers every waiting and later box "No" at once (the program closes), so
// a worker never waits on a box nobody will answer.
#include <QMessageBox>
#include <QPointer>
#include <QWidget>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>

#include "transfer/job_reporter.h"

namespace lyr {

class GuiPrompt {
 public:
  GuiPrompt();
  // Worker side: true for Yes (a question) or after the box was dismissed.
  bool Show(QPointer<QWidget> owner, const std::string& text, const std::string& caption, MessageIcon icon,
            bool question);
  void Release();
  void Rearm();  // a new job may ask again

 private:
  struct State;
  std::shared_ptr<State> state_;
};

// A JobReporter whose questions and messages go through a GuiPrompt with
// `owner` as parent; status and progress are dropped (the disc check).
class PromptReporter final : public JobReporter {
 public:
  PromptReporter(const GuiPrompt& prompt, QPointer<QWidget> owner)
      : prompt_(prompt), owner_(std::move(owner)) {}
  void SetStatus(const std::string&) override {}
  void SetProgress(int) override {}
  void SetFileProgress(int) override {}
  bool Ask(const std::string& text, const std::string& caption) override {
    return prompt_.Show(owner_, text, caption, MessageIcon::Warning, true);
  }
  void Message(const std::string& text, const std::string& caption, MessageIcon icon) override {
    prompt_.Show(owner_, text, caption, icon, false);
  }
  bool CancelRequested() const override { return false; }

 private:
  mutable GuiPrompt prompt_;  // shares the page's state, outlives the page
  QPointer<QWidget> owner_;
};

}  // namespace lyr
