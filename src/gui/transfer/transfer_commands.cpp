#include "gui/transfer/transfer_commands.h"

#include <QMessageBox>
#include <QMetaObject>
#include <QPointer>
#include <memory>

#include "gui/common/task_queue.h"
#include "gui/transfer/progress_dialog.h"
#include "gui/common/unplug_notice.h"
#include "platform/trace.h"
#include "settings/recorder_model.h"

namespace lyr {
namespace {
constexpr int kCopyBars = 2;
constexpr int kDeleteBars = 1;
constexpr char kCopyTicksQuestion[] = "Copy the highlighted recordings?";

// A Yes/No warning with the selection under the question; No is the default.
bool AskAbout(QWidget* owner, const QString& caption, const QString& question, const QString& name,
              const RecordingSelection* selection) {
  QMessageBox box(QMessageBox::Warning, caption, question, QMessageBox::Yes | QMessageBox::No, owner);
  box.setObjectName(name);
  box.setDefaultButton(QMessageBox::No);
  if (selection != nullptr) box.setInformativeText(DescribeSelection(*selection));
  Trace("transfer: asked \"%s\" about \"%s\"\n", question.toUtf8().constData(),
        box.informativeText().toUtf8().constData());
  return box.exec() == QMessageBox::Yes;
}

}  // namespace

CTransferCommands::CTransferCommands(RecorderLink& link, RecorderModel& model, TaskQueue* worker,
                                     QWidget* owner, QObject* parent)
    : QObject(parent), link_(link), model_(model), worker_(worker), owner_(owner) {}

int CTransferCommands::CopyAndSave(const std::vector<uint32_t>& entries, const CopyOptions& options,
                                   const RecordingSelection* selection) {
  // Ticks that look like the choice but are not: the user says which counts.
  if (selection != nullptr && !selection->ticked_left.isEmpty() &&
      !AskAbout(owner_, "Warning", kCopyTicksQuestion, "copyQuestion", selection))
    return 0;
  queue_.Clear();
  queue_.entries.assign(entries.begin(), entries.end());
  CopyOptions copy = options;
  copy.folder = WithTrailingSeparator(copy.folder);
  results_.clear();
  RecorderLink* link = &link_;
  JobQueue* queue = &queue_;
  std::vector<CopyResult>* results = &results_;
  const int result = RunProgressDialog(
      owner_,
      [link, queue, copy, results](JobReporter& reporter) {
        return CopyJob(*link, *queue, copy, reporter, results);
      },
      kJobTitle, kCopyBars, true, &running_);
  Trace("transfer: copy of %zu recordings ended with %d\n", entries.size(), result);
  TellIfRecorderLeft(true);
  emit copyFinished(result == kJobSucceeded   ? JobOutcome::kSucceeded
                    : result == kJobCancelled ? JobOutcome::kCancelled
                                              : JobOutcome::kFailed);
  return result;
}

std::vector<uint32_t> CTransferCommands::Delete(const std::vector<uint32_t>& entries,
                                                const RecordingSelection* selection) {
  if (!AskAbout(owner_, kDeleteQuestionCaption, kDeleteQuestion, "deleteQuestion", selection)) return {};
  queue_.Clear();
  queue_.entries.assign(entries.begin(), entries.end());
  RecorderLink* link = &link_;
  JobQueue* queue = &queue_;
  RunProgressDialog(
      owner_, [link, queue](JobReporter& reporter) { return DeleteJob(*link, *queue, reporter); }, kJobTitle,
      kDeleteBars, true, &running_);
  TellIfRecorderLeft(false);
  std::vector<uint32_t> done = queue_.done;
  emit deleteFinished(done);
  RefreshModel();
  return done;
}

bool CTransferCommands::RecorderLeft() {
  if (running_.isNull()) return false;
  recorder_left_ = true;
  return true;
}

void CTransferCommands::TellIfRecorderLeft(bool copy) {
  if (!recorder_left_) return;
  recorder_left_ = false;
  ShowUnplugNotice(owner_, copy ? InterruptedJob::kCopy : InterruptedJob::kDelete,
                   copy ? KeptFiles(results_) : QStringList());
}

QStringList KeptFiles(const std::vector<CopyResult>& results) {
  QStringList kept;
  for (const CopyResult& r : results) {
    switch (r.outcome) {
      case CopyOutcome::Copied:
      case CopyOutcome::MarkFailed:
        kept << QString::fromStdString(r.paths.target);
        break;
      case CopyOutcome::WriteFailed:
      case CopyOutcome::ReadFailed:
        kept << QString::fromStdString(PartialPath(r.paths.target)) + " (incomplete)";
        break;
      default:
        break;
    }
  }
  return kept;
}

bool CTransferCommands::IsBusy() const { return !running_.isNull(); }

void CTransferCommands::Stop() {
  if (!running_.isNull()) running_->reject();
}

void CTransferCommands::RefreshModel() {
  if (worker_ == nullptr) return;
  // The memory figures changed: re-read the records on the worker, on a
  // copy, and take them here.
  auto records = std::make_shared<RecorderModel>();
  records->AdoptRecords(model_);
  RecorderLink* link = &link_;
  QPointer<CTransferCommands> self(this);
  worker_->Post([link, records, self] {
    records->Refresh(*link);
    QMetaObject::invokeMethod(
        self.data(),
        [self, records] {
          if (self.isNull()) return;
          self->model_.AdoptRecords(*records);
          self->model_.NotifyListeners(nullptr);
          emit self->modelRefreshed();
        },
        Qt::QueuedConnection);
  });
}

}  // namespace lyr
