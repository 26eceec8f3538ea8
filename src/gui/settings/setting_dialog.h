#pragma once
#include <QDialog>
#include <QPointer>

class QFileDialog;
class QLineEdit;

namespace lyr {

// SETTING: the folder for temporary files. "Apply" hands the folder to the
// program (applied) and leaves the dialog open; the close box ends it.
// While the folder browser is open the dialog is busy; CloseBrowser() ends
// the browser (as if cancelled) for the closing sequence.
class CSettingDialog : public QDialog {
  Q_OBJECT

 public:
  static inline const QString kBrowseTitle = QStringLiteral("Select a folder to be temporary folder");

  explicit CSettingDialog(const QString& folder, QWidget* parent = nullptr);

  QString Folder() const { return folder_; }
  bool IsBusy() const { return browsing_; }
  void CloseBrowser();

  // Runs the dialog modally; `apply` gets the folder at each "Apply".
  static void Run(QWidget* parent, const QString& folder, const std::function<void(const QString&)>& apply);

 public slots:
  void Browse();

 signals:
  void applied(const QString& folder);
  void busyChanged(bool busy);

 private:
  QString folder_;
  QLineEdit* edit_ = nullptr;
  bool browsing_ = false;
};

}  // namespace lyr
