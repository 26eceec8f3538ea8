#include "maintenance/ui/maintenance_dialogs.h"

#include <QApplication>
#include <QFileDialog>
#include <QKeyEvent>
#include <QMessageBox>
#include <QProgressDialog>
#include <QTimer>

#include "maintenance/memory_maintenance.h"
#include "settings/ui/confirm_dialog.h"

namespace lyr {
namespace {

constexpr int kPollMs = 50;

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

QMessageBox::Icon BoxIcon(MaintenanceReporter::Icon icon) {
  switch (icon) {
    case MaintenanceReporter::Icon::Warning:
      return QMessageBox::Warning;
    case MaintenanceReporter::Icon::Information:
      return QMessageBox::Information;
    case MaintenanceReporter::Icon::Error:
      break;
  }
  return QMessageBox::Critical;
}

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

void CQtMaintenanceReporter::Message(const std::string& text, const std::string& caption, Icon icon) {
  QMessageBox box(BoxIcon(icon), QString::fromStdString(caption), QString::fromStdString(text),
                  QMessageBox::Ok, parent_);
  box.setObjectName("maintenanceMessage");
  box.exec();
}

bool CQtMaintenanceReporter::Confirm(const std::string& title, const std::string& prompt,
                                     const std::string& information) {
  const ConfirmAnswer answer =
      RunConfirmation(parent_, QString::fromStdString(title), QString::fromStdString(prompt),
                      QString::fromStdString(information));
  hidden_format_ = answer == ConfirmAnswer::kHiddenFormat;
  return answer == ConfirmAnswer::kYes;
}

// ---- firmware update -------------------------------------------------------

void CFirmwareUpdateRunner::ThreadReporter::Message(const std::string& text, const std::string& caption,
                                                    Icon icon) {
  std::lock_guard lock(mutex_);
  shown_.push_back({text, caption, icon});
}

std::vector<CFirmwareUpdateRunner::ThreadReporter::Shown> CFirmwareUpdateRunner::ThreadReporter::Take() {
  std::lock_guard lock(mutex_);
  return std::exchange(shown_, {});
}

CFirmwareUpdateRunner::CFirmwareUpdateRunner(RecorderLink& link, QWidget* parent)
    : QObject(parent), link_(link), parent_(parent) {
  poll_ = new QTimer(this);
  poll_->setInterval(kPollMs);
  connect(poll_, &QTimer::timeout, this, &CFirmwareUpdateRunner::Poll);
}

CFirmwareUpdateRunner::~CFirmwareUpdateRunner() {
  if (thread_.joinable()) thread_.join();
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
  if (thread_.joinable()) return false;
  progress_ = new QProgressDialog("Writing the firmware", QString(), 0, 100, parent_);
  progress_->setObjectName("updateProgress");
  progress_->setWindowTitle("Update");
  progress_->setWindowModality(Qt::WindowModal);
  progress_->setMinimumDuration(0);
  progress_->setAutoClose(false);
  progress_->setAutoReset(false);
  progress_->setValue(0);
  progress_->show();
  done_ = false;
  reporter_.percent_ = 0;
  const std::string file = path.toStdString();
  thread_ = std::thread([this, file, recorder_firmware] {
    outcome_ = static_cast<int>(UpdateFirmware(link_, recorder_firmware, file, reporter_));
    done_ = true;
  });
  poll_->start();
  return true;
}

void CFirmwareUpdateRunner::Poll() {
  if (progress_ != nullptr) {
    const int percent = reporter_.percent_;
    progress_->setValue(percent);
    progress_->setLabelText(percent < 50 ? "Writing the firmware" : "Verifying the firmware");
  }
  if (!done_) return;
  poll_->stop();
  thread_.join();  // it has ended: done_ is its last step
  delete progress_;
  progress_ = nullptr;
  CQtMaintenanceReporter boxes(parent_);
  for (const auto& shown : reporter_.Take()) boxes.Message(shown.text, shown.caption, shown.icon);
  emit finished(outcome_);
}

}  // namespace lyr
