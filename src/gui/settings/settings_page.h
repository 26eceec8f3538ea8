#pragma once
// The recorder settings pages and dialogs, for the main frame.
//
// Pages (modeless, children of the frame, created hidden, never destroyed
// before it): CTimeDatePage, CFileTypePage, CMachineInfoPage; CSettingsPages
// makes the three in the frame's order (indices 0, 1, 2). The frame calls
// ShowPage(page) for the View/Tools commands and HideAll() for "Close all",
// and listens to each page's pageShown(index) / pageHidden(index) for its
// Window menu (the title is Title(), or windowTitle() with "   NOT SET").
// A page registers itself with the recorder model while it is shown.
// Recorder writes run on the application's task queue; while one runs the page
// is busy (IsBusy(), busyChanged) and the closing sequence should wait for
// busyChanged(false) before it ends the program. A page may be destroyed while
// its command runs: the command still runs (a write is never dropped), its
// result is let fall. The model, the link and the queue must outlive the pages.
//
// Modal dialogs: CSettingDialog (the temporary folder; gives the chosen
// folder through `applied`) and CConfirmDialog (Run returns 6 for "Yes",
// 2 otherwise).
#include <QCoreApplication>
#include <QDialog>
#include <QPointer>
#include <QString>
#include <functional>

#include "gui/common/task_queue.h"
#include "settings/recorder_model.h"

class QPushButton;
class QShowEvent;
class QHideEvent;
class QVBoxLayout;

namespace lyr {
class RecorderLink;

// What every page shares: the title with its "   NOT SET" mark, the "Apply"
// button, registration with the model while shown, and the queue that runs
// the page's recorder commands.
class CSettingsPage : public QDialog, public lyr::ModelListener {
  Q_OBJECT

 public:
  static inline const QString kNotSetMark = QStringLiteral("   NOT SET");

  CSettingsPage(lyr::RecorderModel& model, lyr::RecorderLink& link, lyr::TaskQueue& worker,
                const QString& title, bool has_apply, QWidget* parent);
  ~CSettingsPage() override;

  const QString& Title() const { return title_; }
  int PageIndex() const { return page_index_; }
  void SetPageIndex(int index) { page_index_ = index; }
  bool IsChanged() const { return changed_; }
  // A recorder command of this page is under way.
  bool IsBusy() const { return busy_; }

  void MarkChanged();
  void MarkClean();

 public slots:
  // Sends the page's changes to the recorder ("Apply").
  virtual void Apply() {}

 signals:
  void pageShown(int index);
  void pageHidden(int index);
  void busyChanged(bool busy);

 protected:
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;
  bool event(QEvent* event) override;
  // Cancel, Esc and the close box hide the page.
  void reject() override { hide(); }

  // Where a page puts its controls.
  QWidget* Body() const { return body_; }

  // Runs `job(link)` on the queue and `done(result)` on the GUI thread; the
  // page is busy in between. `job` must not touch the page (it may be gone);
  // `done` runs only if the page is still there.
  template <class Job, class Done>
  void RunOnLink(Job job, Done done) {
    SetBusy(true);
    QPointer<CSettingsPage> self(this);
    worker_.Post([self, link = &link_, job = std::move(job), done = std::move(done)]() mutable {
      auto result = job(*link);
      // The application, not the page, carries the result: it is there
      // whatever becomes of the page meanwhile.
      QMetaObject::invokeMethod(
          QCoreApplication::instance(),
          [self, result = std::move(result), done = std::move(done)]() mutable {
            if (self.isNull()) return;
            self->SetBusy(false);
            done(std::move(result));
          },
          Qt::QueuedConnection);
    });
  }

  lyr::RecorderModel& recorder_model_;
  lyr::RecorderLink& link_;

 private:
  void SetBusy(bool busy);
  void UpdateApply();

  QString title_;
  int page_index_ = -1;
  bool changed_ = false;
  bool busy_ = false;
  QWidget* body_ = nullptr;
  QPushButton* apply_ = nullptr;
  lyr::TaskQueue& worker_;
};

}  // namespace lyr
