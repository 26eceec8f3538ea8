#include "gui/burn/burn_progress_dlg.h"

#include <QCoreApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMetaObject>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include "platform/trace.h"

namespace lyr {

// The job's view of the dialog, on the job's thread: status, progress and
// boxes go through the runner; the log lines are posted to the dialog.
class CBurnProgressDlg::Reporter final : public burn::BurnReporter {
 public:
  Reporter(JobReporter& runner, QPointer<CBurnProgressDlg> dlg, std::shared_ptr<Ended> ended)
      : runner_(runner), dlg_(std::move(dlg)), ended_(std::move(ended)) {}

  void SetStatus(const std::string& text) override { runner_.SetStatus(text); }
  void SetProgress(int percent) override { runner_.SetProgress(percent); }
  void Message(const std::string& text, const std::string& caption, MessageIcon icon) override {
    runner_.Message(text, caption, icon);
  }
  bool Ask(const std::string& text, const std::string& caption) override {
    return runner_.Ask(text, caption);
  }
  bool CancelRequested() const override { return runner_.CancelRequested(); }
  void ClearLog() override {
    Post([](CBurnProgressDlg* d) { d->ClearLog(); });
  }
  void AppendLog(const std::string& text) override {
    Post([text = QString::fromStdString(text)](CBurnProgressDlg* d) { d->AppendLogLine(text); });
  }
  // The dialog ends with the runner's end, once the job has returned.
  void Finished(int result) override { ended_->finished = result; }

 private:
  template <typename F>
  void Post(F f) {
    // Through the application, in order with the runner's reports; a
    // dialog gone meanwhile gets nothing.
    QMetaObject::invokeMethod(
        qApp,
        [d = dlg_, f] {
          if (!d.isNull()) f(d.data());
        },
        Qt::QueuedConnection);
  }

  JobReporter& runner_;
  QPointer<CBurnProgressDlg> dlg_;
  std::shared_ptr<Ended> ended_;
};

JobBoxStyle BurnBoxStyle() {
  JobBoxStyle style;
  style.question_mark = true;
  style.trace_prefix = "burn";
  return style;
}

CBurnProgressDlg::CBurnProgressDlg(QWidget* page, Job job, QWidget* parent)
    : QDialog(parent != nullptr ? parent : page), page_(page), job_(std::move(job)) {
  setObjectName("burnProgressDlg");
  setWindowTitle("Burning");
  setModal(true);
  auto* layout = new QVBoxLayout(this);
  log_ = new QPlainTextEdit(this);
  log_->setObjectName("log");
  log_->setReadOnly(true);
  log_->setMinimumSize(360, 160);
  status_ = new QLabel(this);
  status_->setObjectName("status");
  progress_ = new QProgressBar(this);
  progress_->setObjectName("progress");
  progress_->setRange(0, 100);
  progress_->setValue(0);
  button_ = new QPushButton("Start", this);
  button_->setObjectName("button");
  button_->setDefault(true);
  layout->addWidget(log_);
  progress_label_ = new QLabel(this);
  progress_label_->setObjectName("progressLabel");
  layout->addWidget(status_);
  layout->addWidget(progress_label_);
  layout->addWidget(progress_);
  auto* row = new QHBoxLayout;
  row->addStretch();
  row->addWidget(button_);
  layout->addLayout(row);
  runner_ = new JobRunner(this, BurnBoxStyle(), this);
  connect(button_, &QPushButton::clicked, this, &CBurnProgressDlg::OnButton);
  connect(runner_, &JobRunner::progressed, this,
          [this](const JobProgress& p) { SetStatus(p.status, p.percent); });
  connect(runner_, &JobRunner::finished, this, [this](JobOutcome) { OnBurnFinished(ended_->finished); });
  AppendLogLine("Ready...\r\n");
}

CBurnProgressDlg::~CBurnProgressDlg() {
  if (active_) Cancel();
}

void CBurnProgressDlg::SetStatus(const QString& text, int percent) {
  status_->setText(text);
  progress_->setValue(percent);
  // The bar starts again for each step (the download, then the writing).
  if (running_) progress_label_->setText(QString("Current step: %1").arg(pace_.Update(percent)));
}

void CBurnProgressDlg::AppendLogLine(const QString& text) {
  // The job's lines end in "\r\n"; the log shows them as lines.
  QString line = text;
  line.remove('\r');
  if (line.endsWith('\n')) line.chop(1);
  log_->appendPlainText(line);
}

void CBurnProgressDlg::ClearLog() { log_->clear(); }

void CBurnProgressDlg::OnButton() {
  if (!running_) {
    running_ = true;
    active_ = true;
    button_->setText("Cancel");
    QPointer<CBurnProgressDlg> self(this);
    std::shared_ptr<Ended> ended = ended_;
    Job job = job_;
    runner_->Start([self, ended, job](JobReporter& runner) {
      Reporter reporter(runner, self, ended);
      ended->result = job(reporter);
      return ended->result.result == 1;
    });
    return;
  }
  if (active_) {
    button_->setText("Finish");
    runner_->Cancel();
    return;
  }
  accept();
}

void CBurnProgressDlg::OnBurnFinished(int result) {
  Trace("burn: the job ended with %d\n", result);
  button_->setText("Finish");
  active_ = false;
  // A cancelled job leaves no step under way ("Downloading..." would stay).
  if (runner_->CancelAsked()) status_->setText("User abort!");
  if (close_when_finished_) done(QDialog::Rejected);
}

void CBurnProgressDlg::Cancel() {
  runner_->Cancel();
  runner_->Questions().Close();
}

void CBurnProgressDlg::RequestClose() {
  if (active_) {
    Cancel();
    button_->setText("Finish");
    close_when_finished_ = true;
    return;
  }
  done(QDialog::Rejected);
}

void CBurnProgressDlg::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  // With the trace on: where the button is, once the dialog has its place.
  QTimer::singleShot(100, this, [this] {
    const QPoint at = button_->mapToGlobal(button_->rect().center());
    Trace("burn: Burning shown, its button at %d,%d\n", at.x(), at.y());
  });
}

void CBurnProgressDlg::reject() {
  // Escape and the close box: a running job is cancelled first.
  if (active_) {
    runner_->Cancel();
    button_->setText("Finish");
    close_when_finished_ = true;
    return;
  }
  QDialog::reject();
}

}  // namespace lyr
