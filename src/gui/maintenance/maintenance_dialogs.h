#pragma once
#include <QObject>
#include <QString>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

#include "gui/common/job_runner.h"
#include "maintenance/firmware_update.h"

class QDialog;
class QFileDialog;
class QProgressDialog;
class QWidget;

namespace lyr {

class RecorderLink;

// The hidden combination of the FORMAT confirmation: Ctrl+Shift held while
// F11 is pressed closes the dialog as cancelled and asks for a format
// without further confirmation.
inline constexpr Qt::KeyboardModifiers kHiddenFormatModifiers{Qt::ControlModifier | Qt::ShiftModifier};
inline constexpr int kHiddenFormatKey = Qt::Key_F11;

// What the confirmation dialog ended with.
enum class ConfirmAnswer { kCancelled, kYes, kHiddenFormat };

// Runs the shared confirmation dialog modally. While its title is "FORMAT"
// the hidden combination is watched on the dialog and its children before
// they see the keys.
ConfirmAnswer RunConfirmation(QWidget* parent, const QString& title, const QString& prompt,
                              const QString& information);

// The firmware update behind a progress dialog: the file is loaded, sent and
// read back on a JobRunner while the GUI thread shows how far it got; its
// messages are boxes on the parent while the update waits for them. An
// update is never cut short: there is no cancel, and the frame's close
// waits for `finished`.
class CFirmwareUpdateRunner : public QObject {
  Q_OBJECT
 public:
  CFirmwareUpdateRunner(RecorderLink& link, QWidget* parent);

  // The open-file dialog titled "Open Update File" with the ".coe" filter;
  // an empty text when no file was chosen.
  static QString ChooseFile(QWidget* parent);
  // That dialog, built but not run.
  static QFileDialog* MakeFileDialog(QWidget* parent);
  // Stands in for the dialog in ChooseFile (tests); empty restores it.
  static void SetFileChooser(std::function<QString(QWidget*)> chooser);
  // Starts the update of `path` for a recorder with firmware version
  // `recorder_firmware`; false while one runs.
  bool Start(const QString& path, uint16_t recorder_firmware);
  bool Running() const { return runner_->Running(); }
  QProgressDialog* Progress() const { return progress_; }

 signals:
  // The update ended and its messages were shown.
  void finished(lyr::FirmwareUpdateOutcome outcome);

 private:
  void OnProgress(const JobProgress& progress);
  void OnEnded();

  RecorderLink& link_;
  QWidget* parent_;
  QProgressDialog* progress_ = nullptr;
  JobRunner* runner_ = nullptr;
  std::shared_ptr<std::atomic<int>> outcome_ = std::make_shared<std::atomic<int>>(0);
};

}  // namespace lyr
