#include "gui/maintenance/maintenance_dialogs.h"

#include <QApplication>
#include <QFileDialog>
#include <QKeyEvent>
#include <QMessageBox>
#include <QProgressDialog>

#include "gui/common/confirm_dialog.h"
#include "maintenance/memory_maintenance.h"

namespace lyr {
namespace {

constexpr char kUpdateQuestionTitle[] = "UPDATE FIRMWARE";

// Watches the keys meant for the dialog or its children before they are
// dispatched; the combination closes the dialog as cancelled.
class HiddenFormatKeys final : public QObject {
 public:
  explicit HiddenFormatKeys(QDialog* dialog) : QObject(dialog), dialog_(dialog) {}
  bool pressed = false;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() != QEvent::KeyPress) return false;
    auto* widget = qobject_cast<QWidget*>(watched);
    if (widget == nullptr || (widget != dialog_ && !dialog_->isAncestorOf(widget))) return false;
    auto* key = static_cast<QKeyEvent*>(event);
    const Qt::KeyboardModifiers held =
        key->modifiers() & (Qt::ControlModifier | Qt::ShiftModifier | Qt::AltModifier | Qt::MetaModifier);
    if (key->key() != kHiddenFormatKey || held != kHiddenFormatModifiers) return false;
    pressed = true;
    dialog_->reject();
    return true;
  }

 private:
  QDialog* dialog_;
};

// "Name (*.a)|*.a|..." as Qt's filter list "Name (*.a);;...".
QString QtFilter(const char* pairs) {
  const QStringList parts = QString::fromLatin1(pairs).split('|', Qt::SkipEmptyParts);
  QStringList names;
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2) names << parts[i];
  return names.join(";;");
}

}  // namespace

ConfirmAnswer RunConfirmation(QWidget* parent, const QString& title, const QString& prompt,
                              const QString& information) {
  CConfirmDialog dialog(title, prompt, information, parent);
  HiddenFormatKeys* keys = nullptr;
  if (title == QLatin1String(kFormatTitle)) {
    keys = new HiddenFormatKeys(&dialog);
    qApp->installEventFilter(keys);
  }
  const int result = dialog.exec();
  if (keys != nullptr) {
    qApp->removeEventFilter(keys);
    if (keys->pressed) return ConfirmAnswer::kHiddenFormat;
  }
  return result == CConfirmDialog::kYes ? ConfirmAnswer::kYes : ConfirmAnswer::kCancelled;
}

// ---- firmware update -------------------------------------------------------

CFirmwareUpdateRunner::CFirmwareUpdateRunner(RecorderLink& link, QWidget* parent)
    : QObject(parent), link_(link), parent_(parent) {
  JobBoxStyle boxes;
  boxes.message_name = "maintenanceMessage";
  runner_ = new JobRunner(parent, boxes, this);
  connect(runner_, &JobRunner::progressed, this, &CFirmwareUpdateRunner::OnProgress);
  connect(runner_, &JobRunner::finished, this, &CFirmwareUpdateRunner::OnEnded);
}

namespace {
std::function<QString(QWidget*)>& FileChooser() {
  static std::function<QString(QWidget*)> chooser;
  return chooser;
}
}  // namespace

QFileDialog* CFirmwareUpdateRunner::MakeFileDialog(QWidget* parent) {
  auto* dialog = new QFileDialog(parent, kUpdateOpenTitle, QString(), QtFilter(kUpdateFileFilter));
  dialog->setObjectName("updateFileDialog");
  dialog->setFileMode(QFileDialog::ExistingFile);
  dialog->setAcceptMode(QFileDialog::AcceptOpen);
  return dialog;
}

void CFirmwareUpdateRunner::SetFileChooser(std::function<QString(QWidget*)> chooser) {
  FileChooser() = std::move(chooser);
}

QString CFirmwareUpdateRunner::ChooseFile(QWidget* parent) {
  if (FileChooser()) return FileChooser()(parent);
  std::unique_ptr<QFileDialog> dialog(MakeFileDialog(parent));
  if (dialog->exec() != QDialog::Accepted || dialog->selectedFiles().isEmpty()) return {};
  return dialog->selectedFiles().front();
}

bool CFirmwareUpdateRunner::Start(const QString& path, uint16_t recorder_firmware) {
  if (runner_->Running()) return false;
  progress_ = new QProgressDialog("Writing the firmware", QString(), 0, 100, parent_);
  progress_->setObjectName("updateProgress");
  progress_->setWindowTitle("Update");
  progress_->setWindowModality(Qt::WindowModal);
  progress_->setMinimumDuration(0);
  progress_->setAutoClose(false);
  progress_->setAutoReset(false);
  progress_->setValue(0);
  progress_->show();
  RecorderLink* link = &link_;
  std::shared_ptr<std::atomic<int>> outcome = outcome_;
  const std::string file = path.toStdString();
  const std::string firmware =
      QString::asprintf("V%d.%03d", recorder_firmware / 1000, recorder_firmware % 1000).toStdString();
  const bool started =
      runner_->Start([link, outcome, file, recorder_firmware, firmware](JobReporter& reporter) {
        // The file is checked first; then the user is asked once, knowing what
        // replaces what, before anything is written.
        LoadedUpdate loaded = LoadUpdateFile(file, reporter);
        if (loaded.outcome == FirmwareUpdateOutcome::kUpdated &&
            !reporter.Confirm(kUpdateQuestionTitle,
                              "The recorder's firmware " + firmware + " is replaced by the image of " + file +
                                  " (" + std::to_string(loaded.image.size()) + " bytes).",
                              "Do not unplug the recorder before the update ends."))
          loaded.outcome = FirmwareUpdateOutcome::kCancelled;
        if (loaded.outcome == FirmwareUpdateOutcome::kUpdated)
          loaded.outcome = SendFirmwareImage(*link, recorder_firmware, loaded.image, reporter);
        *outcome = static_cast<int>(loaded.outcome);
        return true;
      });
  if (!started) {
    delete progress_;
    progress_ = nullptr;
  }
  return started;
}

void CFirmwareUpdateRunner::OnProgress(const JobProgress& progress) {
  if (progress_ == nullptr) return;
  progress_->setValue(progress.percent);
  progress_->setLabelText(progress.percent < 50 ? "Writing the firmware" : "Verifying the firmware");
}

void CFirmwareUpdateRunner::OnEnded() {
  delete progress_;
  progress_ = nullptr;
  emit finished(static_cast<FirmwareUpdateOutcome>(outcome_->load()));
}

}  // namespace lyr
