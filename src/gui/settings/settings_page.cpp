#include "gui/settings/settings_page.h"

#include <QApplication>
#include <QEvent>
#include <QHBoxLayout>
#include <QPushButton>
#include <QShowEvent>
#include <QVBoxLayout>

namespace lyr {

CSettingsPage::CSettingsPage(lyr::RecorderModel& model, lyr::RecorderLink& link, lyr::TaskQueue& worker,
                             const QString& title, bool has_apply, QWidget* parent)
    : QDialog(parent), recorder_model_(model), link_(link), title_(title.left(256)), worker_(worker) {
  setWindowTitle(title_);
  setModal(false);
  auto* layout = new QVBoxLayout(this);
  body_ = new QWidget(this);
  layout->addWidget(body_);
  if (has_apply) {
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    apply_ = new QPushButton(QStringLiteral("Apply"), this);
    apply_->setObjectName(QStringLiteral("apply"));
    apply_->setAutoDefault(false);
    connect(apply_, &QPushButton::clicked, this, [this] { Apply(); });
    buttons->addWidget(apply_);
    layout->addLayout(buttons);
  }
  UpdateApply();
}

CSettingsPage::~CSettingsPage() { recorder_model_.RemoveListener(this); }

void CSettingsPage::MarkChanged() {
  changed_ = true;
  setWindowTitle(title_ + kNotSetMark);
  UpdateApply();
}

void CSettingsPage::MarkClean() {
  changed_ = false;
  setWindowTitle(title_);
  UpdateApply();
}

void CSettingsPage::UpdateApply() {
  if (apply_ != nullptr) apply_->setEnabled(changed_ && !busy_);
}

void CSettingsPage::SetBusy(bool busy) {
  if (busy == busy_) return;
  busy_ = busy;
  body_->setEnabled(!busy);
  if (busy)
    setCursor(Qt::WaitCursor);
  else
    unsetCursor();
  UpdateApply();
  emit busyChanged(busy);
}

void CSettingsPage::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (event->spontaneous()) return;  // restored from minimised: keep the edits
  emit pageShown(page_index_);
  recorder_model_.AddListener(this);
  LoadFromModel();
  Show();
  MarkClean();
}

void CSettingsPage::hideEvent(QHideEvent* event) {
  QDialog::hideEvent(event);
  if (event->spontaneous()) return;
  emit pageHidden(page_index_);
  recorder_model_.RemoveListener(this);
}

bool CSettingsPage::event(QEvent* event) {
  if (event->type() == QEvent::WindowActivate && isVisible()) emit pageShown(page_index_);
  return QDialog::event(event);
}

}  // namespace lyr
