#pragma once
#include <QDialog>
#include <string>

class QLabel;

namespace lyr {

// "V " and the file version without its commas and blanks: "1, 0, 2, 4"
// shows as "V 1024". Empty when there is no version.
std::string AboutVersionText(const std::string& file_version);

// The About box ("TORVI LYR INFORMATION"): the version from the build and
// the build date.
class CAboutBox : public QDialog {
  Q_OBJECT
 public:
  explicit CAboutBox(QWidget* parent = nullptr);
  QString VersionText() const;
  QString DateText() const;

 private:
  QLabel* version_ = nullptr;
  QLabel* date_ = nullptr;
};

}  // namespace lyr
