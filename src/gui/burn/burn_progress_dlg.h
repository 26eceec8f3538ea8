#pragma once
// The "Burning" dialog: a button that reads "Start", then "Cancel", then
// "Finish"; the job's log, its status and its progress. The job runs on the
// dialog's JobRunner and reports through BurnReporter; what it reports
// reaches the widgets queued on the GUI thread. Cancel is a flag the job
// polls; its questions and messages are window-modal boxes on this dialog
// while the job waits for the answer.
#include <QDialog>
#include <QPointer>
#include <functional>
#include <memory>

#include "burn/burn_jobs.h"
#include "gui/common/job_pace.h"
#include "gui/common/job_runner.h"

class QLabel;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;

namespace lyr {

// The burn windows' boxes: a question with the question mark and "Yes" as
// its default; with the trace on, where the box's button is.
JobBoxStyle BurnBoxStyle();

class CBurnProgressDlg : public QDialog {
  Q_OBJECT
 public:
  using Job = std::function<burn::BurnJobResult(burn::BurnReporter&)>;

  CBurnProgressDlg(QWidget* page, Job job, QWidget* parent = nullptr);
  // Never waits: a job still running is cancelled, its boxes are answered
  // "No", and it ends on its own.
  ~CBurnProgressDlg() override;

  QWidget* Page() const { return page_; }
  bool IsRunning() const { return running_; }
  bool IsActive() const { return active_; }
  bool CancelAsked() const { return runner_->CancelAsked(); }
  const burn::BurnJobResult& Result() const { return ended_->result; }

  // What the job reports, on the GUI thread.
  void SetStatus(const QString& text, int percent);
  void AppendLogLine(const QString& text);
  void ClearLog();
  // WM_BURN_FINISHED.
  void OnBurnFinished(int result);
  // The program closes: cancel a running job, answer its boxes "No" and
  // close once it has ended.
  void RequestClose();
  // What the bar's 100 % stands for: the rate is shown with the time left.
  void SetTotalBytes(uint64_t bytes) { pace_.SetTotalBytes(bytes); }

 public slots:
  void reject() override;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  class Reporter;
  struct Ended {
    burn::BurnJobResult result;
    int finished = 0;  // what the job's finished notice said
  };
  void OnButton();
  void Cancel();

  QWidget* page_;
  Job job_;
  QPushButton* button_ = nullptr;
  QPlainTextEdit* log_ = nullptr;
  QLabel* status_ = nullptr;
  QProgressBar* progress_ = nullptr;
  QLabel* progress_label_ = nullptr;  // the bar's step, rate and time left
  BarPace pace_;
  JobRunner* runner_ = nullptr;
  bool running_ = false;
  bool active_ = false;
  bool close_when_finished_ = false;
  // Written by the job, read here once it has ended.
  std::shared_ptr<Ended> ended_ = std::make_shared<Ended>();
};

}  // namespace lyr
