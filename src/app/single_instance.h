#pragma once
#include <QObject>
#include <QString>

class QLocalServer;

namespace lyr {

// One running copy per user and display. The first start listens on a local
// socket named for the user and the display; a later start finds it, asks it
// to come forward and ends.
class SingleInstance : public QObject {
  Q_OBJECT
 public:
  explicit SingleInstance(QObject* parent = nullptr);
  ~SingleInstance() override;

  // The socket's name for this user and display, in $XDG_RUNTIME_DIR (else
  // the temporary folder).
  static QString ServerName();

  // False when another copy answered (it was asked to come forward); true
  // when this process is the first (and listens, unless no socket could be
  // made at all).
  bool Claim();

 signals:
  // A second start asked this copy to come forward.
  void raiseRequested();

 private:
  bool AskRunningCopy();
  QLocalServer* server_ = nullptr;
};

}  // namespace lyr
