#pragma once
// Drives a modal "Files Processing" dialog from a timer while its exec()
// runs: `step` is called every few milliseconds with the dialog shown (or
// null) until it returns true.
#include <QApplication>
#include <QMessageBox>
#include <QTimer>
#include <functional>

#include "gui/transfer/progress_dialog.h"

namespace lyr_test {

inline lyr::CProgressDlg* ShownProgressDialog() {
  for (QWidget* w : QApplication::topLevelWidgets()) {
    if (auto* d = qobject_cast<lyr::CProgressDlg*>(w); d != nullptr && d->isVisible()) return d;
  }
  return nullptr;
}

inline QMessageBox* ShownJobBox(lyr::CProgressDlg* dialog) {
  if (dialog == nullptr) return nullptr;
  for (auto* box : dialog->findChildren<QMessageBox*>()) {
    if (box->isVisible()) return box;
  }
  return nullptr;
}

class DialogDriver {
 public:
  explicit DialogDriver(std::function<bool(lyr::CProgressDlg*)> step, int interval_ms = 2)
      : step_(std::move(step)) {
    timer_.setInterval(interval_ms);
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      if (done_) return;
      done_ = step_(ShownProgressDialog());
      if (done_) timer_.stop();
    });
    timer_.start();
  }
  bool done() const { return done_; }

 private:
  std::function<bool(lyr::CProgressDlg*)> step_;
  QTimer timer_;
  bool done_ = false;
};

}  // namespace lyr_test
