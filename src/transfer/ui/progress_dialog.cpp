#include "transfer/ui/progress_dialog.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QMetaObject>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

namespace lyr {
namespace {
constexpr int kCancelPollMs = 50;
constexpr qint64 kUpdateMs = 40;

QMessageBox::Icon BoxIcon(MessageIcon icon) {
  switch (icon) {
    case MessageIcon::Error:
      return QMessageBox::Critical;
    case MessageIcon::Information:
      return QMessageBox::Information;
    case MessageIcon::Warning:
      break;
  }
  return QMessageBox::Warning;
}
}  // namespace

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
  layout->addWidget(status_);
  layout->addWidget(file_);
  layout->addWidget(overall_);
  auto* buttons = new QHBoxLayout();
  buttons->addStretch(1);
  buttons->addWidget(cancel_button_);
  layout->addLayout(buttons);
  cancel_poll_ = new QTimer(this);
  cancel_poll_->setInterval(kCancelPollMs);
  connect(cancel_button_, &QPushButton::clicked, this, &CProgressDlg::StartCancel);
  connect(cancel_poll_, &QTimer::timeout, this, [this] {
    if (job_ != nullptr && job_->Running()) return;
    cancel_poll_->stop();
    if (job_ != nullptr) job_->Cancel();  // the job has stopped: no wait
    Finish(kJobCancelled);
  });
}

CProgressDlg::~CProgressDlg() {
  std::lock_guard lock(mutex_);
  popups_closed_ = true;
  popup_answered_ = true;
  popup_answer_ = false;
  answered_cv_.notify_all();
}

void CProgressDlg::Post() {
  // Called with mutex_ held: one queued update at a time carries the latest values.
  if (update_posted_) return;
  update_posted_ = true;
  QMetaObject::invokeMethod(this, &CProgressDlg::Apply, Qt::QueuedConnection);
}

void CProgressDlg::SetStatus(const std::string& text) {
  std::lock_guard lock(mutex_);
  status_text_ = text;
  status_dirty_ = true;
  Post();
}

void CProgressDlg::SetProgress(int percent) {
  std::lock_guard lock(mutex_);
  progress_ = percent;
  Post();
}

void CProgressDlg::SetFileProgress(int percent) {
  std::lock_guard lock(mutex_);
  file_progress_ = percent;
  Post();
}

void CProgressDlg::DisableCancel() {
  std::lock_guard lock(mutex_);
  disable_pending_ = true;
  Post();
}

void CProgressDlg::Apply() {
  if (applied_.isValid() && applied_.elapsed() < kUpdateMs && !finished_) {
    // update_posted_ stays set: the reports meanwhile wait for this one.
    QTimer::singleShot(static_cast<int>(kUpdateMs - applied_.elapsed()), this, &CProgressDlg::Apply);
    return;
  }
  ApplyNow();
}

void CProgressDlg::ApplyNow() {
  applied_.start();
  QString status;
  bool status_dirty;
  int progress;
  int file_progress;
  bool disable;
  bool popup;
  {
    std::lock_guard lock(mutex_);
    update_posted_ = false;
    status_dirty = status_dirty_;
    status_dirty_ = false;
    if (status_dirty) status = QString::fromStdString(status_text_);
    progress = progress_;
    file_progress = file_progress_;
    disable = disable_pending_;
    disable_pending_ = false;
    popup = popup_pending_ && box_.isNull() && !popup_answered_;
  }
  if (status_dirty) status_->setText(status);
  overall_->setValue(progress);
  file_->setValue(file_progress);
  if (disable && !cancel_disabled_) {
    cancel_disabled_ = true;
    cancel_button_->setEnabled(false);
    // The close box goes with the Cancel button. Changing the window's
    // flags while it is shown would hide it (and end the modal loop), so a
    // shown window keeps its close box and ignores it.
    if (!isVisible()) setWindowFlag(Qt::WindowCloseButtonHint, false);
  }
  if (popup) OpenPopup();
}

bool CProgressDlg::CancelEnabled() const { return cancel_button_->isEnabled(); }

bool CProgressDlg::ShowPopup(PopupKind kind, const std::string& text, const std::string& caption,
                             MessageIcon icon) {
  std::unique_lock lock(mutex_);
  if (popups_closed_) return false;
  popup_kind_ = kind;
  popup_text_ = text;
  popup_caption_ = caption;
  popup_icon_ = icon;
  popup_pending_ = true;
  popup_answered_ = false;
  popup_answer_ = false;
  Post();
  answered_cv_.wait(lock, [this] { return popup_answered_; });
  popup_pending_ = false;
  return popup_answer_;
}

bool CProgressDlg::Ask(const std::string& text, const std::string& caption) {
  return ShowPopup(PopupKind::Question, text, caption, MessageIcon::Warning);
}

void CProgressDlg::Message(const std::string& text, const std::string& caption, MessageIcon icon) {
  ShowPopup(PopupKind::Message, text, caption, icon);
}

void CProgressDlg::OpenPopup() {
  PopupKind kind;
  QString text;
  QString caption;
  MessageIcon icon;
  {
    std::lock_guard lock(mutex_);
    kind = popup_kind_;
    text = QString::fromStdString(popup_text_);
    caption = QString::fromStdString(popup_caption_);
    icon = popup_icon_;
  }
  auto* box = new QMessageBox(
      BoxIcon(icon), caption, text,
      kind == PopupKind::Question ? QMessageBox::Yes | QMessageBox::No : QMessageBox::Ok, this);
  box->setObjectName(kind == PopupKind::Question ? "jobQuestion" : "jobMessage");
  box->setAttribute(Qt::WA_DeleteOnClose);
  box_ = box;
  connect(box, &QMessageBox::finished, this, [this, box](int) {
    const bool yes =
        box->clickedButton() != nullptr && box->standardButton(box->clickedButton()) == QMessageBox::Yes;
    box_ = nullptr;
    std::lock_guard lock(mutex_);
    popup_answer_ = yes;
    popup_answered_ = true;
    answered_cv_.notify_all();
  });
  box->open();
}

void CProgressDlg::ClosePopup() {
  {
    std::lock_guard lock(mutex_);
    popups_closed_ = true;
    popup_answer_ = false;
    popup_answered_ = true;
    answered_cv_.notify_all();
  }
  if (!box_.isNull()) box_->done(QMessageBox::No);
}

void CProgressDlg::JobEnded(int result) {
  QMetaObject::invokeMethod(
      this,
      [this, result] {
        ApplyNow();
        Finish(result);
      },
      Qt::QueuedConnection);
}

void CProgressDlg::Finish(int result) {
  if (finished_) return;
  finished_ = true;
  cancel_poll_->stop();
  if (!box_.isNull()) box_->done(QMessageBox::No);
  done(result);
}

void CProgressDlg::StartCancel() {
  if (cancelling_ || finished_ || cancel_disabled_) return;
  cancelling_ = true;
  if (job_ != nullptr) {
    job_->RequestCancel();
  } else {
    ClosePopup();
    SetStatus("Terminating...");
    DisableCancel();
  }
  ApplyNow();
  cancel_poll_->start();
}

void CProgressDlg::reject() { StartCancel(); }

void CProgressDlg::closeEvent(QCloseEvent* event) {
  event->ignore();
  StartCancel();
}

int RunProgressDialog(QWidget* owner, ProgressJob::Function job, const QString& title, int bars,
                      bool cancel_allowed, QPointer<CProgressDlg>* running) {
  CProgressDlg dialog(owner, title, bars);
  ProgressJob run(dialog, std::move(job));
  dialog.Attach(&run);
  if (!run.Start(cancel_allowed)) return kJobFailed;
  if (running != nullptr) *running = &dialog;
  const int result = dialog.exec();
  if (running != nullptr) *running = nullptr;
  if (result == kJobCancelled) return kJobCancelled;
  return result == kJobSucceeded ? kJobSucceeded : kJobFailed;
}

}  // namespace lyr
