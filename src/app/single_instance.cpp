#include "app/single_instance.h"

#include <unistd.h>

#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>

#include "platform/trace.h"

namespace lyr {
namespace {
constexpr char kRaiseRequest[] = "raise\n";
constexpr int kAnswerWaitMs = 2000;

// The display this copy runs on: Wayland's or X's, else the platform's name.
QString DisplayName() {
  QString display = qEnvironmentVariable("WAYLAND_DISPLAY");
  if (display.isEmpty()) display = qEnvironmentVariable("DISPLAY");
  if (display.isEmpty()) display = qEnvironmentVariable("QT_QPA_PLATFORM", "none");
  for (QChar& c : display)
    if (!c.isLetterOrNumber() && c != '.' && c != '-') c = '_';
  return display;
}
}  // namespace

SingleInstance::SingleInstance(QObject* parent) : QObject(parent) {}

SingleInstance::~SingleInstance() {
  if (server_ != nullptr) server_->close();
}

QString SingleInstance::ServerName() {
  QString dir = qEnvironmentVariable("XDG_RUNTIME_DIR");
  if (dir.isEmpty() || !QDir(dir).exists()) dir = QDir::tempPath();
  return dir + QString("/lyr-manager-%1-%2").arg(::getuid()).arg(DisplayName());
}

bool SingleInstance::AskRunningCopy() {
  QLocalSocket socket;
  socket.connectToServer(ServerName());
  if (!socket.waitForConnected(kAnswerWaitMs)) return false;
  socket.write(kRaiseRequest);
  socket.waitForBytesWritten(kAnswerWaitMs);
  // The answer says the request was read; a copy still starting answers too.
  socket.waitForReadyRead(kAnswerWaitMs);
  Trace("single instance: another copy runs; asked it to come forward\n");
  return true;
}

bool SingleInstance::Claim() {
  if (AskRunningCopy()) return false;
  server_ = new QLocalServer(this);
  server_->setSocketOptions(QLocalServer::UserAccessOption);
  if (!server_->listen(ServerName())) {
    // Two starts at once: the other one won. A name nobody answers on is
    // left from a copy that ended badly and is taken over.
    if (AskRunningCopy()) return false;
    QLocalServer::removeServer(ServerName());
    if (!server_->listen(ServerName())) {
      // Running unguarded beats not running at all.
      Trace("single instance: cannot listen on %s: %s\n", ServerName().toUtf8().constData(),
            server_->errorString().toUtf8().constData());
      return true;
    }
  }
  Trace("single instance: listening on %s\n", ServerName().toUtf8().constData());
  connect(server_, &QLocalServer::newConnection, this, [this] {
    while (QLocalSocket* client = server_->nextPendingConnection()) {
      connect(client, &QLocalSocket::disconnected, client, &QObject::deleteLater);
      connect(client, &QLocalSocket::readyRead, this, [this, client] {
        while (client->canReadLine()) {
          if (client->readLine() == kRaiseRequest) {
            client->write("ok\n");
            emit raiseRequested();
          }
        }
      });
    }
  });
  return true;
}

}  // namespace lyr
