#include "gui/transfer/progress_dialog.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

namespace lyr {

CProgressDlg::CProgressDlg(QWidget* owner, const QString& title, int bars) : QDialog(owner) {
  setObjectName("progressDialog");
  setWindowTitle(title);
  setModal(true);
  auto* layout = new QVBoxLayout(this);
  status_ = new QLabel(this);
  status_->setObjectName("statusText");
  status_->setTextFormat(Qt::PlainText);
  status_->setMinimumWidth(360);
  overall_ = new QProgressBar(this);
  overall_->setObjectName("overallBar");
  overall_->setRange(0, 100);
  file_ = new QProgressBar(this);
  file_->setObjectName("fileBar");
  file_->setRange(0, 100);
  file_->setVisible(bars == 2);
  cancel_button_ = new QPushButton("Cancel", this);
  cancel_button_->setObjectName("cancelButton");
  cancel_button_->setAutoDefault(false);
  file_label_ = new QLabel(this);
  file_label_->setObjectName("fileBarLabel");
  file_label_->setVisible(bars == 2);
  overall_label_ = new QLabel(this);
  overall_label_->setObjectName("overallBarLabel");
  layout->addWidget(status_);
  layout->addWidget(file_label_);
  layout->addWidget(file_);
  layout->addWidget(overall_label_);
  layout->addWidget(overall_);
  auto* buttons = new QHBoxLayout();
  buttons->addStretch(1);
  buttons->addWidget(cancel_button_);
  layout->addLayout(buttons);
  runner_ = new JobRunner(this, JobBoxStyle{}, this);
  connect(cancel_button_, &QPushButton::clicked, this, &CProgressDlg::StartCancel);
  connect(runner_, &JobRunner::progressed, this, &CProgressDlg::Show);
  connect(runner_, &JobRunner::finished, this, &CProgressDlg::Finish);
}

bool CProgressDlg::Start(JobRunner::Job job, bool cancel_allowed) {
  if (!cancel_allowed) DisableCancel();
  return runner_->Start(std::move(job));
}

void CProgressDlg::Show(const JobProgress& progress) {
  if (cancelling_) return;  // "Terminating..." stays
  status_->setText(progress.status);
  overall_->setValue(progress.percent);
  file_->setValue(progress.file_percent);
  file_label_->setText(QString("Current file: %1").arg(file_pace_.Update(progress.file_percent)));
  overall_label_->setText(QString("Whole job: %1").arg(overall_pace_.Update(progress.percent)));
}

void CProgressDlg::DisableCancel() {
  if (cancel_disabled_) return;
  cancel_disabled_ = true;
  cancel_button_->setEnabled(false);
  // The close box goes with the Cancel button. Changing the window's flags
  // while it is shown would hide it (and end the modal loop), so a shown
  // window keeps its close box and ignores it.
  if (!isVisible()) setWindowFlag(Qt::WindowCloseButtonHint, false);
}

bool CProgressDlg::CancelEnabled() const { return cancel_button_->isEnabled(); }

void CProgressDlg::Finish(JobOutcome outcome) {
  if (finished_) return;
  finished_ = true;
  runner_->Questions().Close();
  switch (outcome) {
    case JobOutcome::kSucceeded:
      done(kJobSucceeded);
      return;
    case JobOutcome::kCancelled:
      done(kJobCancelled);
      return;
    case JobOutcome::kFailed:
      break;
  }
  done(kJobFailed);
}

void CProgressDlg::StartCancel() {
  if (cancelling_ || finished_ || cancel_disabled_) return;
  cancelling_ = true;
  // The flag first: the job takes its closed question for the cancel it is.
  runner_->Cancel();
  runner_->Questions().Close();
  status_->setText("Terminating...");
  DisableCancel();
}

void CProgressDlg::reject() { StartCancel(); }

void CProgressDlg::closeEvent(QCloseEvent* event) {
  event->ignore();
  StartCancel();
}

int RunProgressDialog(QWidget* owner, JobRunner::Job job, const QString& title, int bars, bool cancel_allowed,
                      QPointer<CProgressDlg>* running) {
  CProgressDlg dialog(owner, title, bars);
  if (!dialog.Start(std::move(job), cancel_allowed)) return kJobFailed;
  if (running != nullptr) *running = &dialog;
  const int result = dialog.exec();
  if (running != nullptr) *running = nullptr;
  if (result == kJobCancelled) return kJobCancelled;
  return result == kJobSucceeded ? kJobSucceeded : kJobFailed;
}

}  // namespace lyr
