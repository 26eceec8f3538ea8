#include "burn/ui/gui_prompt.h"

#include <QApplication>
#include <QPushButton>
#include <QMetaObject>
#include <QTimer>

#include "platform/trace.h"

namespace lyr {

struct GuiPrompt::State {
  std::mutex mutex;
  std::condition_variable answered;
  bool released = false;
};

namespace {

struct Pending {
  bool done = false;
  bool yes = false;
};

QMessageBox::Icon BoxIcon(MessageIcon icon, bool question) {
  if (question) return QMessageBox::Question;
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

GuiPrompt::GuiPrompt() : state_(std::make_shared<State>()) {}

bool GuiPrompt::Show(QPointer<QWidget> owner, const std::string& text, const std::string& caption,
                     MessageIcon icon, bool question) {
  auto state = state_;
  auto pending = std::make_shared<Pending>();
  {
    std::lock_guard<std::mutex> lock(state->mutex);
    if (state->released) return false;
  }
  QMetaObject::invokeMethod(
      qApp,
      [state, pending, owner, text = QString::fromStdString(text), caption = QString::fromStdString(caption),
       icon, question] {
        bool yes = false;
        bool released;
        {
          std::lock_guard<std::mutex> lock(state->mutex);
          released = state->released;
        }
        if (!released && !owner.isNull()) {
          QMessageBox box(BoxIcon(icon, question), caption, text,
                          question ? QMessageBox::Yes | QMessageBox::No : QMessageBox::Ok, owner.data());
          if (question) box.setDefaultButton(QMessageBox::Yes);
          // With the trace on: the box and where its default button is, once shown.
          QTimer::singleShot(100, &box, [&box] {
            const QAbstractButton* button = static_cast<QAbstractButton*>(box.defaultButton());
            if (button == nullptr) button = box.buttons().value(0);
            if (button == nullptr) return;
            const QPoint at = button->mapToGlobal(button->rect().center());
            Trace("burn: box \"%s\", its button at %d,%d\n", box.text().toUtf8().constData(), at.x(), at.y());
          });
          yes = box.exec() == (question ? QMessageBox::Yes : QMessageBox::Ok);
        }
        std::lock_guard<std::mutex> lock(state->mutex);
        pending->done = true;
        pending->yes = yes;
        state->answered.notify_all();
      },
      Qt::QueuedConnection);
  std::unique_lock<std::mutex> lock(state->mutex);
  state->answered.wait(lock, [&] { return pending->done || state->released; });
  return pending->done && pending->yes && !state->released;
}

void GuiPrompt::Release() {
  std::lock_guard<std::mutex> lock(state_->mutex);
  state_->released = true;
  state_->answered.notify_all();
}

void GuiPrompt::Rearm() {
  std::lock_guard<std::mutex> lock(state_->mutex);
  state_->released = false;
}

}  // namespace lyr
