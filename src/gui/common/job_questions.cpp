#include "gui/common/job_questions.h"

#include <QAbstractButton>
#include <QApplication>
#include <QGridLayout>
#include <QMessageBox>
#include <QMetaObject>
#include <QPushButton>
#include <QThread>
#include <QTimer>
#include <condition_variable>
#include <map>
#include <mutex>

#include "platform/trace.h"

namespace lyr {

struct JobQuestionsState {
  std::mutex mutex;
  std::condition_variable answered;
  bool closed = false;
  uint64_t next_id = 1;
  std::map<uint64_t, bool> answers;  // given answers, until their worker takes them
  QPointer<JobQuestions> questions;  // read on the GUI thread only
};

namespace {

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

void Answer(JobQuestionsState& state, uint64_t id, bool yes) {
  std::lock_guard lock(state.mutex);
  state.answers[id] = yes;
  state.answered.notify_all();
}

}  // namespace

bool JobAsker::Ask(const JobQuestion& question) const {
  // On the GUI thread the wait would stop the box it waits for.
  if (QThread::currentThread() == qApp->thread()) return false;
  auto state = state_;
  uint64_t id;
  {
    std::lock_guard lock(state->mutex);
    if (state->closed) return false;
    id = state->next_id++;
  }
  // Posted to the application, which outlives every window: a window gone
  // meanwhile answers No.
  QMetaObject::invokeMethod(
      qApp,
      [state, id, question] {
        if (state->questions.isNull()) {
          Answer(*state, id, false);
          return;
        }
        state->questions->Show(id, question);
      },
      Qt::QueuedConnection);
  std::unique_lock lock(state->mutex);
  state->answered.wait(lock, [&] { return state->closed || state->answers.count(id) != 0; });
  const auto it = state->answers.find(id);
  const bool yes = it != state->answers.end() && it->second && !state->closed;
  if (it != state->answers.end()) state->answers.erase(it);
  return yes;
}

JobQuestions::JobQuestions(QWidget* owner, JobBoxStyle style)
    : owner_(owner), style_(std::move(style)), state_(std::make_shared<JobQuestionsState>()) {
  state_->questions = this;
}

JobQuestions::~JobQuestions() {
  state_->questions = nullptr;
  Close();
}

void JobQuestions::Close() {
  {
    std::lock_guard lock(state_->mutex);
    state_->closed = true;
    state_->answered.notify_all();
  }
  if (!box_.isNull()) box_->done(QMessageBox::No);
}

void JobQuestions::Reopen() {
  std::lock_guard lock(state_->mutex);
  state_->closed = false;
}

void FitCaption(QMessageBox* box) {
  // Room for the caption, the title bar's icon and its three buttons.
  constexpr int kTitleBarExtras = 160;
  auto* grid = qobject_cast<QGridLayout*>(box->layout());
  if (grid == nullptr) return;
  const int width = box->fontMetrics().horizontalAdvance(box->windowTitle()) + kTitleBarExtras;
  grid->addItem(new QSpacerItem(width, 0, QSizePolicy::Minimum, QSizePolicy::Minimum), grid->rowCount(), 0, 1,
                grid->columnCount());
}

void JobQuestions::Show(uint64_t id, const JobQuestion& question) {
  bool closed;
  {
    std::lock_guard lock(state_->mutex);
    closed = state_->closed;
  }
  if (closed || owner_.isNull()) {
    Answer(*state_, id, false);
    return;
  }
  const bool asking = question.kind == JobQuestion::Kind::kQuestion;
  const QMessageBox::Icon icon =
      asking && style_.question_mark ? QMessageBox::Question : BoxIcon(question.icon);
  auto* box = new QMessageBox(icon, question.caption, question.text,
                              asking ? QMessageBox::Yes | QMessageBox::No : QMessageBox::Ok, owner_.data());
  box->setObjectName(asking ? style_.question_name : style_.message_name);
  box->setAttribute(Qt::WA_DeleteOnClose);
  if (asking) box->setDefaultButton(QMessageBox::No);
  if (!question.detail.isEmpty()) box->setInformativeText(question.detail);
  FitCaption(box);
  box_ = box;
  std::shared_ptr<JobQuestionsState> state = state_;
  connect(box, &QMessageBox::finished, this, [this, state, box, id, asking](int) {
    const QAbstractButton* clicked = box->clickedButton();
    const QMessageBox::StandardButton wanted = asking ? QMessageBox::Yes : QMessageBox::Ok;
    const bool yes =
        clicked != nullptr && box->standardButton(const_cast<QAbstractButton*>(clicked)) == wanted;
    if (box_ == box) box_ = nullptr;
    Answer(*state, id, yes);
  });
  if (!style_.trace_prefix.isEmpty()) {
    // With the trace on: the box and where its default button is, once shown.
    const QByteArray prefix = style_.trace_prefix.toUtf8();
    QTimer::singleShot(100, box, [box, prefix] {
      const QAbstractButton* button = box->defaultButton();
      if (button == nullptr) button = box->buttons().value(0);
      if (button == nullptr) return;
      const QPoint at = button->mapToGlobal(button->rect().center());
      Trace("%s: box \"%s\", its button at %d,%d\n", prefix.constData(), box->text().toUtf8().constData(),
            at.x(), at.y());
    });
  }
  box->open();
}

bool QuestionReporter::Ask(const std::string& text, const std::string& caption) {
  return asker_.Ask({JobQuestion::Kind::kQuestion,
                     QString::fromStdString(text),
                     QString::fromStdString(caption),
                     MessageIcon::Warning,
                     {}});
}

bool QuestionReporter::AskAbout(const std::string& text, const std::string& caption,
                                const std::string& detail) {
  return asker_.Ask({JobQuestion::Kind::kQuestion, QString::fromStdString(text),
                     QString::fromStdString(caption), MessageIcon::Warning, QString::fromStdString(detail)});
}

void QuestionReporter::Message(const std::string& text, const std::string& caption, MessageIcon icon) {
  asker_.Ask(
      {JobQuestion::Kind::kMessage, QString::fromStdString(text), QString::fromStdString(caption), icon, {}});
}

}  // namespace lyr
