#include "burn/ui/burn_progress_dlg.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include "platform/trace.h"

namespace lyr {

// The job's view of the dialog, called on the job's thread.
class CBurnProgressDlg::Reporter final : public burn::BurnReporter {
 public:
  explicit Reporter(CBurnProgressDlg* dlg) : dlg_(dlg), guard_(dlg) {}

  void SetStatus(const std::string& text) override {
    status_ = QString::fromStdString(text);
    Post([text = status_, percent = percent_](CBurnProgressDlg* d) { d->SetStatus(text, percent); });
  }
  void SetProgress(int percent) override {
    percent_ = percent;
    Post([text = status_, percent](CBurnProgressDlg* d) { d->SetStatus(text, percent); });
  }
  void Message(const std::string& text, const std::string& caption, MessageIcon icon) override {
    dlg_->prompt_.Show(guard_, text, caption, icon, false);
  }
  bool Ask(const std::string& text, const std::string& caption) override {
    return dlg_->prompt_.Show(guard_, text, caption, MessageIcon::Warning, true);
  }
  bool CancelRequested() const override { return dlg_->cancel_asked_.load(); }
  void ClearLog() override {
    Post([](CBurnProgressDlg* d) { d->ClearLog(); });
  }
  void AppendLog(const std::string& text) override {
    Post([text = QString::fromStdString(text)](CBurnProgressDlg* d) { d->AppendLogLine(text); });
  }
  void Finished(int result) override {
    Post([result](CBurnProgressDlg* d) { d->OnBurnFinished(result); });
  }

 private:
  template <typename F>
  void Post(F f) {
    // The dialog joins this thread before it goes, so it is alive here; what
    // is still queued when it goes is dropped with it.
    CBurnProgressDlg* d = dlg_;
    QMetaObject::invokeMethod(
        d, [d, f] { f(d); }, Qt::QueuedConnection);
  }

  CBurnProgressDlg* dlg_;
  QPointer<QWidget> guard_;
  QString status_;
  int percent_ = 0;
};

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
  layout->addWidget(status_);
  layout->addWidget(progress_);
  auto* row = new QHBoxLayout;
  row->addStretch();
  row->addWidget(button_);
  layout->addLayout(row);
  connect(button_, &QPushButton::clicked, this, &CBurnProgressDlg::OnButton);
  AppendLogLine("Ready...\r\n");
}

CBurnProgressDlg::~CBurnProgressDlg() {
  if (thread_.joinable()) {
    cancel_asked_ = true;
    prompt_.Release();
    thread_.join();
  }
}

void CBurnProgressDlg::SetStatus(const QString& text, int percent) {
  status_->setText(text);
  progress_->setValue(percent);
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
    reporter_ = std::make_unique<Reporter>(this);
    thread_ = std::thread([this] { result_ = job_(*reporter_); });
    return;
  }
  if (active_) {
    button_->setText("Finish");
    cancel_asked_ = true;
    return;
  }
  accept();
}

void CBurnProgressDlg::OnBurnFinished(int result) {
  Trace("burn: the job ended with %d\n", result);
  button_->setText("Finish");
  active_ = false;
  if (thread_.joinable()) thread_.join();  // the job has reported its end and returns now
  if (close_when_finished_) done(QDialog::Rejected);
}

void CBurnProgressDlg::RequestClose() {
  if (active_) {
    cancel_asked_ = true;
    prompt_.Release();
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
    cancel_asked_ = true;
    button_->setText("Finish");
    close_when_finished_ = true;
    return;
  }
  QDialog::reject();
}

}  // namespace lyr
