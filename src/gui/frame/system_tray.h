#pragma once
#include <QObject>
#include <QString>

class QMenu;
class QSystemTrayIcon;
class QWidget;

namespace lyr {

// The notification-area icon of the frame, with its menu (Maximize, Safely
// Remove, About, Exit; Maximize is the default item). A click brings the
// frame to the foreground and runs no command.
class CSystemTray : public QObject {
  Q_OBJECT
 public:
  CSystemTray(QWidget* target, QMenu* menu, const QString& tooltip);
  ~CSystemTray() override;

  // Whether the desktop has a notification area now. Where it has none the
  // frame is minimised instead of hidden, so the user never loses it.
  static bool Available();
  // Shows the icon; false when there is no notification area.
  bool Add();
  void Remove();
  bool IsShown() const;

 signals:
  // A click or a double click on the icon: the frame comes forward (shown
  // again when put away); no command runs.
  void showRequested();

 private:
  QSystemTrayIcon* icon_;
  bool removed_ = true;
};

}  // namespace lyr
