#pragma once
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <cstdint>
#include <vector>

#include "gui/common/job_runner.h"
#include "gui/common/recording_selection.h"
#include "transfer/transfer_jobs.h"

class QWidget;

namespace lyr {

class CProgressDlg;
class TaskQueue;
class RecorderLink;
class RecorderModel;

// The play list's "Copy && Save" and "Delete" commands: each fills the job
// queue, runs its job behind the "Files Processing" dialog and tells the
// windows what changed. Used on the GUI thread; the jobs' recorder exchanges
// run on the dialog's worker.
class CTransferCommands : public QObject {
  Q_OBJECT
 public:
  // `worker`: where the recorder model is re-read after a delete (may be
  // null: no re-read).
  CTransferCommands(RecorderLink& link, RecorderModel& model, TaskQueue* worker, QWidget* owner,
                    QObject* parent = nullptr);

  // Copies the recordings (top to bottom) with the copy page's choices;
  // 1, 2 or 0x10002 as the dialog ended. Then `copyFinished`.
  // With `selection`: when ticked rows are left out the user is asked first
  // (No: nothing is copied, 0).
  int CopyAndSave(const std::vector<uint32_t>& entries, const CopyOptions& options,
                  const RecordingSelection* selection = nullptr);
  // Asks, then deletes the recordings; the entries the recorder removed.
  // Then `deleteFinished` with them (also when none) unless the user said No.
  // The question names what `selection` describes.
  std::vector<uint32_t> Delete(const std::vector<uint32_t>& entries,
                               const RecordingSelection* selection = nullptr);

  // A job's dialog is open (its job may still be ending).
  bool IsBusy() const;
  // The program closes: the running job is cancelled as by its Cancel
  // button, without waiting; IsBusy turns false once it has ended.
  void Stop();
  // The recorder left: a job running now says so, and what it kept, once it
  // has ended. False when no job runs.
  bool RecorderLeft();

  // The results of the last copy, one per recording the job took.
  const std::vector<CopyResult>& LastCopyResults() const { return results_; }

 signals:
  // The play list redraws (copied marks) and the copy page re-reads its folder.
  void copyFinished(lyr::JobOutcome outcome);
  // The play list removes the rows of `done`; the recorder model's listeners
  // are told once it has been re-read (memory figures changed).
  void deleteFinished(const std::vector<uint32_t>& done);
  void modelRefreshed();

 private:
  void RefreshModel();
  // After a job's dialog: the unplug notice when the recorder left meanwhile.
  void TellIfRecorderLeft(bool copy);

  RecorderLink& link_;
  RecorderModel& model_;
  TaskQueue* worker_;
  QWidget* owner_;
  QPointer<CProgressDlg> running_;
  JobQueue queue_;
  std::vector<CopyResult> results_;
  bool recorder_left_ = false;
};

// What a copy left on the PC, a file per line: complete copies by name,
// bytes of an interrupted one under its ".partial" name.
QStringList KeptFiles(const std::vector<CopyResult>& results);

}  // namespace lyr
