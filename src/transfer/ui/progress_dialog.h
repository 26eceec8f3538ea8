#pragma once
#include <QDialog>
#include <QElapsedTimer>
#include <QPointer>
#include <QString>
#include <condition_variable>
#include <mutex>
#include <string>

#include "transfer/progress_job.h"

class QLabel;
class QMessageBox;
class QProgressBar;
class QPushButton;
class QTimer;

namespace lyr {

// "Files Processing": the modal window a copy or delete job runs behind.
// The job's reports arrive on its worker thread; status and bar values are
// kept and shown by the GUI thread (at most one pending update, so a fast
// job never floods the event loop). A question or message of the job is shown
// on the GUI thread, owned by this dialog, while the worker waits for the
// answer; cancel closes it as No.
class CProgressDlg : public QDialog, public ProgressWindow {
  Q_OBJECT
 public:
  CProgressDlg(QWidget* owner, const QString& title, int bars);
  ~CProgressDlg() override;

  // The job this window runs; set before the job starts.
  void Attach(ProgressJob* job) { job_ = job; }

  // ProgressWindow (any thread).
  void SetStatus(const std::string& text) override;
  void SetProgress(int percent) override;
  void SetFileProgress(int percent) override;
  bool Ask(const std::string& text, const std::string& caption) override;
  void Message(const std::string& text, const std::string& caption, MessageIcon icon) override;
  void DisableCancel() override;
  void ClosePopup() override;
  void JobEnded(int result) override;

  // The cancel sequence, without blocking: cancel flag, open question
  // closed, "Terminating...", Cancel disabled; the dialog ends with 0x10002
  // once the job has stopped.
  void StartCancel();
  bool CancelEnabled() const;
  bool Cancelling() const { return cancelling_; }

 public slots:
  void reject() override;

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  enum class PopupKind { Question, Message };
  void Post();
  // Shows what the worker reported: at most every kUpdateMs while the job
  // runs (the bars need no more, and the job's thread and the recorder
  // keep the processor), at once when it ends or is cancelled.
  void Apply();
  void ApplyNow();
  bool ShowPopup(PopupKind kind, const std::string& text, const std::string& caption, MessageIcon icon);
  void OpenPopup();
  void Finish(int result);

  QLabel* status_ = nullptr;
  QProgressBar* overall_ = nullptr;
  QProgressBar* file_ = nullptr;
  QPushButton* cancel_button_ = nullptr;
  QTimer* cancel_poll_ = nullptr;
  ProgressJob* job_ = nullptr;
  bool cancelling_ = false;
  bool finished_ = false;
  bool cancel_disabled_ = false;
  QElapsedTimer applied_;

  // Shared with the worker.
  std::mutex mutex_;
  std::condition_variable answered_cv_;
  bool update_posted_ = false;
  bool status_dirty_ = false;
  std::string status_text_;
  int progress_ = 0;
  int file_progress_ = 0;
  bool disable_pending_ = false;
  // The one question or message the worker waits on.
  bool popup_pending_ = false;
  bool popup_answered_ = false;
  bool popup_answer_ = false;
  bool popups_closed_ = false;  // after cancel: every question is answered No at once
  PopupKind popup_kind_ = PopupKind::Question;
  std::string popup_text_;
  std::string popup_caption_;
  MessageIcon popup_icon_ = MessageIcon::Warning;
  QPointer<QMessageBox> box_;
};

// Runs `job` on a worker behind a "Files Processing" dialog with `bars`
// progress bars (1 or 2) and the title; Cancel greyed when not allowed.
// 1 (job succeeded), 2 (failed) or 0x10002 (cancelled).
// `running`, when given, points at the dialog while it is open.
int RunProgressDialog(QWidget* owner, ProgressJob::Function job, const QString& title, int bars,
                      bool cancel_allowed, QPointer<CProgressDlg>* running = nullptr);

}  // namespace lyr
