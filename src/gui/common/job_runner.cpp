#include "gui/common/job_runner.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QPointer>
#include <QTimer>
#include <atomic>
#include <mutex>
#include <system_error>

namespace lyr {

// What the worker and the GUI thread share; it outlives the runner while the
// worker runs.
struct JobRunner::Shared {
  std::mutex mutex;
  JobProgress progress;
  bool posted = false;  // one queued update at a time carries the latest values
  std::atomic<bool> cancel{false};
  QPointer<JobRunner> runner;  // read on the GUI thread only
};

// The job's reporter, on the worker thread.
class JobRunner::Reporter final : public JobReporter {
 public:
  Reporter(std::shared_ptr<Shared> shared, JobAsker asker)
      : shared_(std::move(shared)), asker_(std::move(asker)) {}

  void SetStatus(const std::string& text) override {
    Update([&](JobProgress& p) { p.status = QString::fromStdString(text); });
  }
  void SetProgress(int percent) override {
    Update([&](JobProgress& p) { p.percent = percent; });
  }
  void SetFileProgress(int percent) override {
    Update([&](JobProgress& p) { p.file_percent = percent; });
  }
  bool Ask(const std::string& text, const std::string& caption) override {
    return asker_.Ask({JobQuestion::Kind::kQuestion,
                       QString::fromStdString(text),
                       QString::fromStdString(caption),
                       MessageIcon::Warning,
                       {}});
  }
  bool AskAbout(const std::string& text, const std::string& caption, const std::string& detail) override {
    return asker_.Ask({JobQuestion::Kind::kQuestion, QString::fromStdString(text),
                       QString::fromStdString(caption), MessageIcon::Warning,
                       QString::fromStdString(detail)});
  }
  void Message(const std::string& text, const std::string& caption, MessageIcon icon) override {
    asker_.Ask({JobQuestion::Kind::kMessage,
                QString::fromStdString(text),
                QString::fromStdString(caption),
                icon,
                {}});
  }
  bool Confirm(const std::string& title, const std::string& prompt, const std::string& information) override {
    return Ask(prompt + "\n" + information, title);
  }
  bool CancelRequested() const override { return shared_->cancel; }

 private:
  template <typename F>
  void Update(F change) {
    std::lock_guard lock(shared_->mutex);
    change(shared_->progress);
    if (shared_->posted) return;
    shared_->posted = true;
    std::shared_ptr<Shared> shared = shared_;
    QMetaObject::invokeMethod(
        qApp,
        [shared] {
          if (!shared->runner.isNull()) shared->runner->Apply();
        },
        Qt::QueuedConnection);
  }

  std::shared_ptr<Shared> shared_;
  JobAsker asker_;
};

JobRunner::JobRunner(QWidget* owner, JobBoxStyle style, QObject* parent)
    : QObject(parent),
      questions_(std::make_unique<JobQuestions>(owner, std::move(style))),
      shared_(std::make_shared<Shared>()) {
  shared_->runner = this;
}

JobRunner::~JobRunner() {
  shared_->runner = nullptr;
  shared_->cancel = true;
  questions_->Close();
  // The job may be inside a recorder exchange: it ends on its own, with
  // the shared state, and nobody here waits for it.
  if (thread_.joinable()) thread_.detach();
}

bool JobRunner::Start(Job job) {
  if (running_) return false;
  if (thread_.joinable()) thread_.join();  // the last job has ended: its end was reported
  {
    std::lock_guard lock(shared_->mutex);
    shared_->progress = JobProgress{};
    shared_->posted = false;
    shared_->cancel = false;
  }
  questions_->Reopen();
  applied_.invalidate();
  emit progressed(JobProgress{});
  std::shared_ptr<Shared> shared = shared_;
  JobAsker asker = questions_->Asker();
  running_ = true;
  try {
    thread_ = std::thread([shared, asker, job = std::move(job)] {
      bool succeeded = false;
      {
        Reporter reporter(shared, asker);
        succeeded = job(reporter);
      }
      QMetaObject::invokeMethod(
          qApp,
          [shared, succeeded] {
            if (!shared->runner.isNull()) shared->runner->End(succeeded);
          },
          Qt::QueuedConnection);
    });
  } catch (const std::system_error&) {
    running_ = false;
    return false;
  }
  return true;
}

void JobRunner::Cancel() {
  if (running_) shared_->cancel = true;
}

bool JobRunner::CancelAsked() const { return shared_->cancel; }

void JobRunner::Apply() {
  if (apply_scheduled_) return;
  if (running_ && applied_.isValid() && applied_.elapsed() < kUpdateMs) {
    // `posted` stays set: the reports meanwhile wait for this update.
    apply_scheduled_ = true;
    QTimer::singleShot(static_cast<int>(kUpdateMs - applied_.elapsed()), this, [this] {
      apply_scheduled_ = false;
      Emit();
    });
    return;
  }
  Emit();
}

void JobRunner::Emit() {
  applied_.start();
  JobProgress now;
  {
    std::lock_guard lock(shared_->mutex);
    shared_->posted = false;
    now = shared_->progress;
  }
  emit progressed(now);
}

void JobRunner::End(bool succeeded) {
  // The worker's last step was to post this: its thread ends now.
  if (thread_.joinable()) thread_.join();
  running_ = false;
  const bool cancelled = shared_->cancel;
  if (!cancelled) Emit();
  emit finished(cancelled   ? JobOutcome::kCancelled
                : succeeded ? JobOutcome::kSucceeded
                            : JobOutcome::kFailed);
}

}  // namespace lyr
