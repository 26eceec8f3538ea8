#pragma once
#include <string>

namespace lyr {

// How a job run behind a progress window or terminal ended.
constexpr int kJobSucceeded = 1;
constexpr int kJobFailed = 2;
constexpr int kJobCancelled = 0x10002;

// The icon of a message box, wherever it is shown.
enum class MessageIcon { Warning, Error, Information };

// What a long operation sees of the window it runs behind: copy, delete,
// digests, ingest and burn ("Files Processing", "Burning"), and the firmware
// update, format and file-counter reset (the maintenance boxes and progress),
// or lyrctl's terminal, or a test. Jobs call it from the thread they run on.
class JobReporter {
 public:
  virtual ~JobReporter() = default;
  virtual void SetStatus(const std::string& text) = 0;
  virtual void SetProgress(int percent) = 0;      // overall bar, 0 to 100
  virtual void SetFileProgress(int percent) = 0;  // per-file bar, 0 to 100
  // A Yes/No question with the warning icon; true for Yes.
  virtual bool Ask(const std::string& text, const std::string& caption) = 0;
  // The same question with what it is about (a file's path) shown under it
  // where the window can; by default the question alone.
  virtual bool AskAbout(const std::string& text, const std::string& caption, const std::string& detail);
  virtual void Message(const std::string& text, const std::string& caption, MessageIcon icon) = 0;
  virtual bool CancelRequested() const = 0;
  // The confirmation dialog: a title, a prompt and an information line; true
  // only when the user chose "Yes" and pressed OK. Nobody to ask: false.
  virtual bool Confirm(const std::string& title, const std::string& prompt, const std::string& information);
  // Progress, 0 to 100, with what is being done: the status and the overall bar.
  virtual void SetProgressText(int percent, const std::string& doing);
};

// A job or digest run where nobody watches: nothing is shown, every
// question is answered No, and it is never cancelled.
class SilentReporter final : public JobReporter {
 public:
  void SetStatus(const std::string&) override {}
  void SetProgress(int) override {}
  void SetFileProgress(int) override {}
  bool Ask(const std::string&, const std::string&) override { return false; }
  void Message(const std::string&, const std::string&, MessageIcon) override {}
  bool CancelRequested() const override { return false; }
};

// Wraps the window for a job: nothing reaches the window once cancel was
// asked for (a cancelled job asks no more questions: the answer is No), and
// repeated identical status texts and progress values are not sent again,
// so that a per-piece report costs nothing when nothing changed. A job makes
// one for its window and passes that one on to the routines it calls, so the
// remembered values always match what the window shows.
class GatedReporter final : public JobReporter {
 public:
  explicit GatedReporter(JobReporter& window) : window_(window) {}

  void SetStatus(const std::string& text) override {
    if (Cancelled() || (status_set_ && text == status_)) return;
    status_set_ = true;
    status_ = text;
    window_.SetStatus(text);
  }
  void SetProgress(int percent) override {
    if (Cancelled() || percent == progress_) return;
    progress_ = percent;
    window_.SetProgress(percent);
  }
  void SetFileProgress(int percent) override {
    if (Cancelled() || percent == file_progress_) return;
    file_progress_ = percent;
    window_.SetFileProgress(percent);
  }
  bool Ask(const std::string& text, const std::string& caption) override {
    return !Cancelled() && window_.Ask(text, caption) && !Cancelled();
  }
  bool AskAbout(const std::string& text, const std::string& caption, const std::string& detail) override {
    return !Cancelled() && window_.AskAbout(text, caption, detail) && !Cancelled();
  }
  void Message(const std::string& text, const std::string& caption, MessageIcon icon) override {
    if (!Cancelled()) window_.Message(text, caption, icon);
  }
  bool CancelRequested() const override { return window_.CancelRequested(); }
  bool Confirm(const std::string& title, const std::string& prompt, const std::string& information) override {
    return !Cancelled() && window_.Confirm(title, prompt, information) && !Cancelled();
  }

 private:
  bool Cancelled() const { return window_.CancelRequested(); }

  JobReporter& window_;
  std::string status_;
  bool status_set_ = false;
  int progress_ = -1;
  int file_progress_ = -1;
};

}  // namespace lyr
