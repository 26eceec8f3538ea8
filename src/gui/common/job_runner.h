#pragma once
// The one way a window runs a long job (copy, delete, burn, firmware update)
// off the GUI thread. The job runs on a worker thread and reports through a
// JobReporter; its status and bars reach the GUI thread as `progressed`
// (coalesced: at most one update every kUpdateMs while it runs, so a fast job
// never floods the event loop), its questions and messages go through the
// runner's JobQuestions, cancel is a flag the job polls, and its end is the
// `finished` signal. The GUI thread never waits for the worker: the thread
// is joined once it has ended, and a runner destroyed while its job runs
// leaves the thread to end on its own.
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <functional>
#include <memory>
#include <thread>

#include "gui/common/job_questions.h"
#include "job/job_reporter.h"

namespace lyr {

enum class JobOutcome { kSucceeded, kFailed, kCancelled };

// What the job reported last: the status line and the two bars (0 to 100).
struct JobProgress {
  QString status;
  int percent = 0;
  int file_percent = 0;
};

class JobRunner : public QObject {
  Q_OBJECT
 public:
  // Runs on the worker thread; true when the job succeeded.
  using Job = std::function<bool(JobReporter& reporter)>;
  static constexpr int kUpdateMs = 40;

  // `owner` is the parent of the job's boxes.
  explicit JobRunner(QWidget* owner, JobBoxStyle style = {}, QObject* parent = nullptr);
  ~JobRunner() override;

  // Starts the job with an empty status and both bars at 0; false when one
  // runs already or the thread cannot be started.
  bool Start(Job job);
  // Sets the cancel flag; `finished(kCancelled)` follows once the job has
  // returned. Its questions stay open unless the window closes them
  // (Questions().Close()): some jobs still say how they ended.
  void Cancel();
  bool Running() const { return running_; }
  bool CancelAsked() const;
  JobQuestions& Questions() { return *questions_; }

 signals:
  void progressed(const JobProgress& progress);
  void finished(JobOutcome outcome);

 private:
  struct Shared;
  class Reporter;
  void Apply();
  void Emit();
  void End(bool succeeded);

  std::unique_ptr<JobQuestions> questions_;
  std::shared_ptr<Shared> shared_;
  std::thread thread_;
  bool running_ = false;
  bool apply_scheduled_ = false;
  QElapsedTimer applied_;
};

}  // namespace lyr
