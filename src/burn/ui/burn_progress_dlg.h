#pragma once
// The "Burning" dialog: a button that reads "Start", then "Cancel", then
// "Finish"; the job's log, its status and its progress. The job runs on the
// dialog's own thread and reports through BurnReporter; what it reports
// reaches the widgets queued on the GUI thread. Cancel is a flag the job
// polls; its questions and messages are shown on the GUI thread while the
// job waits for the answer.
#include <QDialog>
#include <atomic>
#include <functional>
#include <memory>
#include <thread>

#include "burn/burn_jobs.h"
#include "burn/ui/gui_prompt.h"

class QLabel;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;

namespace lyr {

class CBurnProgressDlg : public QDialog {
  Q_OBJECT
 public:
  using Job = std::function<burn::BurnJobResult(burn::BurnReporter&)>;

  CBurnProgressDlg(QWidget* page, Job job, QWidget* parent = nullptr);
  ~CBurnProgressDlg() override;  // waits for the job (it ends soon after its cancel)

  QWidget* Page() const { return page_; }
  bool IsRunning() const { return running_; }
  bool IsActive() const { return active_; }
  bool CancelAsked() const { return cancel_asked_.load(); }
  const burn::BurnJobResult& Result() const { return result_; }

  // What the job reports, on the GUI thread.
  void SetStatus(const QString& text, int percent);
  void AppendLogLine(const QString& text);
  void ClearLog();
  // WM_BURN_FINISHED.
  void OnBurnFinished(int result);
  // The program closes: cancel a running job, answer its boxes "No" and
  // close once it has ended.
  void RequestClose();

 public slots:
  void reject() override;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  class Reporter;
  void OnButton();

  QWidget* page_;
  Job job_;
  QPushButton* button_ = nullptr;
  QPlainTextEdit* log_ = nullptr;
  QLabel* status_ = nullptr;
  QProgressBar* progress_ = nullptr;
  bool running_ = false;
  bool active_ = false;
  bool close_when_finished_ = false;
  std::atomic<bool> cancel_asked_{false};
  GuiPrompt prompt_;
  std::unique_ptr<Reporter> reporter_;
  burn::BurnJobResult result_;
  std::thread thread_;
};

}  // namespace lyr
