#pragma once
#include <QDialog>
#include <QPointer>
#include <QString>

#include "gui/common/job_pace.h"
#include "gui/common/job_runner.h"

class QLabel;
class QProgressBar;
class QPushButton;

namespace lyr {

// "Files Processing": the modal window a copy or delete job runs behind, on
// its JobRunner. What the job reports is shown as the runner passes it on;
// a question or message of the job is a box owned by this dialog while the
// worker waits for the answer; cancel closes it as No.
class CProgressDlg : public QDialog {
  Q_OBJECT
 public:
  CProgressDlg(QWidget* owner, const QString& title, int bars);

  // Empties the status, zeroes both bars and starts the job; Cancel greyed
  // when not allowed. False when the job cannot be started.
  bool Start(JobRunner::Job job, bool cancel_allowed);

  // The cancel sequence, without blocking: cancel flag, open question
  // closed, "Terminating...", Cancel disabled; the dialog ends with 0x10002
  // once the job has stopped.
  void StartCancel();
  bool CancelEnabled() const;
  bool Cancelling() const { return cancelling_; }

 public slots:
  void reject() override;

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void Show(const JobProgress& progress);
  void DisableCancel();
  void Finish(JobOutcome outcome);

  QLabel* status_ = nullptr;
  QProgressBar* overall_ = nullptr;
  QProgressBar* file_ = nullptr;
  // What each bar measures, with its rate and time left.
  QLabel* overall_label_ = nullptr;
  QLabel* file_label_ = nullptr;
  BarPace overall_pace_;
  BarPace file_pace_;
  QPushButton* cancel_button_ = nullptr;
  JobRunner* runner_ = nullptr;
  bool cancelling_ = false;
  bool finished_ = false;
  bool cancel_disabled_ = false;
};

// Runs `job` on a worker behind a "Files Processing" dialog with `bars`
// progress bars (1 or 2) and the title; Cancel greyed when not allowed.
// 1 (job succeeded), 2 (failed) or 0x10002 (cancelled).
// `running`, when given, points at the dialog while it is open.
int RunProgressDialog(QWidget* owner, JobRunner::Job job, const QString& title, int bars, bool cancel_allowed,
                      QPointer<CProgressDlg>* running = nullptr);

}  // namespace lyr
