#pragma once
#include <QObject>
#include <QString>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "maintenance/firmware_update.h"
#include "maintenance/maintenance_reporter.h"

class QDialog;
class QFileDialog;
class QProgressDialog;
class QTimer;
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

// The desktop's reporter, used on the GUI thread: modal message boxes with
// the caption and icon asked for, and the confirmation dialog.
class CQtMaintenanceReporter : public MaintenanceReporter {
 public:
  explicit CQtMaintenanceReporter(QWidget* parent) : parent_(parent) {}
  void Message(const std::string& text, const std::string& caption, Icon icon) override;
  bool Confirm(const std::string& title, const std::string& prompt, const std::string& information) override;
  void SetProgress(int, const std::string&) override {}
  bool CancelRequested() const override { return false; }
  // The last confirmation was closed by the hidden combination.
  bool HiddenFormatRequested() const { return hidden_format_; }

 private:
  QWidget* parent_;
  bool hidden_format_ = false;
};

// The firmware update behind a progress dialog: the file is loaded, sent and
// read back on a thread of its own while the GUI thread only polls how far
// it got; the messages are shown on the GUI thread once the thread has
// ended. The destructor joins the thread (an update is never cut short).
class CFirmwareUpdateRunner : public QObject {
  Q_OBJECT
 public:
  CFirmwareUpdateRunner(RecorderLink& link, QWidget* parent);
  ~CFirmwareUpdateRunner() override;

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
  bool Running() const { return thread_.joinable(); }
  QProgressDialog* Progress() const { return progress_; }

 signals:
  // The update ended and its messages were shown.
  void finished(int outcome);

 private:
  // Collects what the update reports on its thread.
  class ThreadReporter final : public MaintenanceReporter {
   public:
    struct Shown {
      std::string text, caption;
      Icon icon;
    };
    void Message(const std::string& text, const std::string& caption, Icon icon) override;
    bool Confirm(const std::string&, const std::string&, const std::string&) override { return false; }
    void SetProgress(int percent, const std::string&) override { percent_ = percent; }
    bool CancelRequested() const override { return false; }
    std::vector<Shown> Take();
    std::atomic<int> percent_{0};

   private:
    std::mutex mutex_;
    std::vector<Shown> shown_;
  };

  void Poll();

  RecorderLink& link_;
  QWidget* parent_;
  QProgressDialog* progress_ = nullptr;
  QTimer* poll_ = nullptr;
  ThreadReporter reporter_;
  std::atomic<bool> done_{false};
  std::atomic<int> outcome_{0};
  std::thread thread_;
};

}  // namespace lyr
