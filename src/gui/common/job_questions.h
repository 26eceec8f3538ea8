#pragma once
// The one bridge between a job's question (or message) on its worker thread
// and the user: the worker waits for the answer while the GUI thread shows a
// window-modal box (open(), no nested event loop) and takes the answer in a
// slot. Close answers every pending and later question "No" at once (the
// window or the program closes, or the job is cancelled), so a worker never
// waits on a box nobody will answer.
#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QWidget>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>

#include "job/job_reporter.h"

namespace lyr {

// Widens a box whose text is shorter than its caption, so that the window
// manager's title bar shows the caption whole ("Warning" over "User Abort!").
void FitCaption(QMessageBox* box);

struct JobQuestion {
  enum class Kind { kQuestion, kMessage };
  Kind kind = Kind::kMessage;
  QString text;
  QString caption;
  MessageIcon icon = MessageIcon::Warning;
  QString detail;  // shown under the text (what a question is about)
};

// How a window shows its jobs' boxes.
struct JobBoxStyle {
  QString question_name = "jobQuestion";
  QString message_name = "jobMessage";
  // A question with the question mark; otherwise with the job's icon. Every
  // question defaults to "No": what a job asks about destroys something.
  bool question_mark = false;
  // Not empty: a trace line with this prefix says where the box's button is once shown.
  QString trace_prefix;
};

struct JobQuestionsState;

// The worker's handle on a JobQuestions: stays valid when the window has
// gone (its questions are then answered No at once).
class JobAsker {
 public:
  // Worker side (never the GUI thread): shows the box and waits for it;
  // true for Yes (a question) or once a message was dismissed; false at
  // once while closed.
  bool Ask(const JobQuestion& question) const;

 private:
  friend class JobQuestions;
  explicit JobAsker(std::shared_ptr<JobQuestionsState> state) : state_(std::move(state)) {}
  std::shared_ptr<JobQuestionsState> state_;
};

class JobQuestions : public QObject {
  Q_OBJECT
 public:
  // `owner` is the parent of the boxes; the owner of this object keeps it.
  explicit JobQuestions(QWidget* owner, JobBoxStyle style = {});
  ~JobQuestions() override;  // closes: every waiting worker is answered No

  JobAsker Asker() const { return JobAsker(state_); }
  // Answers every pending and later question No and closes an open box.
  void Close();
  // A new job may ask again.
  void Reopen();
  // The box shown now, if any.
  QMessageBox* OpenBox() const { return box_.data(); }

 private:
  friend class JobAsker;
  void Show(uint64_t id, const JobQuestion& question);

  QPointer<QWidget> owner_;
  JobBoxStyle style_;
  std::shared_ptr<JobQuestionsState> state_;
  QPointer<QMessageBox> box_;
};

// A JobReporter whose questions and messages go through a JobQuestions;
// status and progress are dropped (the disc check on the task queue).
class QuestionReporter final : public JobReporter {
 public:
  explicit QuestionReporter(JobAsker asker) : asker_(std::move(asker)) {}
  void SetStatus(const std::string&) override {}
  void SetProgress(int) override {}
  void SetFileProgress(int) override {}
  bool Ask(const std::string& text, const std::string& caption) override;
  bool AskAbout(const std::string& text, const std::string& caption, const std::string& detail) override;
  void Message(const std::string& text, const std::string& caption, MessageIcon icon) override;
  bool CancelRequested() const override { return false; }

 private:
  JobAsker asker_;
};

}  // namespace lyr
