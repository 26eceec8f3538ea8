#include "gui/frame/system_tray.h"

#include <QMenu>
#include <QSystemTrayIcon>
#include <QWidget>

namespace lyr {

CSystemTray::CSystemTray(QWidget* target, QMenu* menu, const QString& tooltip)
    : QObject(target), icon_(new QSystemTrayIcon(this)) {
  icon_->setIcon(target->windowIcon());
  icon_->setToolTip(tooltip.left(127));
  icon_->setContextMenu(menu);
  connect(icon_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
    if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick) emit showRequested();
  });
}

CSystemTray::~CSystemTray() { Remove(); }

bool CSystemTray::Available() { return QSystemTrayIcon::isSystemTrayAvailable(); }

bool CSystemTray::Add() {
  if (!Available()) {
    removed_ = true;
    return false;
  }
  icon_->show();
  removed_ = false;
  return true;
}

void CSystemTray::Remove() {
  if (removed_) return;
  icon_->hide();
  removed_ = true;
}

bool CSystemTray::IsShown() const { return !removed_ && icon_->isVisible(); }

}  // namespace lyr
