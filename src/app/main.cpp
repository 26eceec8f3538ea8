// lyr-manager: the desktop program of the LYR recorder.
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <QSocketNotifier>
#include <cstdio>
#include <string_view>

#include "app/application.h"
#include "gui/frame/main_frame.h"
#include "lyr_version.h"

namespace {

int g_signal_fd = -1;

// SIGINT and SIGTERM end the program through its closing sequence, as the
// tray menu's Exit does; the handler only wakes the GUI thread.
void OnStopSignal(int) {
  const char c = 1;
  [[maybe_unused]] const ssize_t n = ::write(g_signal_fd, &c, 1);
}

// --help and --version answer on the terminal before any window or display
// connection exists (a shell over ssh has none).
bool AnsweredOnTerminal(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--version") {
      std::printf("lyr-manager %s\n", LYR_VERSION_STRING);
      return true;
    }
    if (arg == "--help" || arg == "-h") {
      std::printf(
          "Usage: lyr-manager [--help | --version]\n"
          "The LYR recorder manager's window: plays, copies, burns and deletes the recordings\n"
          "of the recorder plugged in, and sets the recorder up. Started again, it brings the\n"
          "running window forward. lyrctl does the same from a shell.\n"
          "\n"
          "  -h, --help   Print this help and exit\n"
          "  --version    Print \"lyr-manager VERSION\" and exit\n"
          "\n"
          "Example: lyr-manager &\n");
      return true;
    }
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  if (AnsweredOnTerminal(argc, argv)) return 0;
  QApplication qt(argc, argv);
  QApplication::setApplicationName("lyr-manager");
  QApplication::setDesktopFileName("lyr-manager");
  // The program lives on in the tray when its window is closed.
  QApplication::setQuitOnLastWindowClosed(false);

  lyr::CLyrApp app;
  int fds[2];
  QSocketNotifier* notifier = nullptr;
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) == 0) {
    g_signal_fd = fds[0];
    notifier = new QSocketNotifier(fds[1], QSocketNotifier::Read, &qt);
    QObject::connect(notifier, &QSocketNotifier::activated, &qt, [&app, fd = fds[1]] {
      char buf[16];
      [[maybe_unused]] const ssize_t n = ::read(fd, buf, sizeof buf);
      if (app.Frame() != nullptr) app.Frame()->RequestExit();
    });
    struct sigaction sa {};
    sa.sa_handler = OnStopSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
  }

  // A stop signal that comes while the program starts is handled once the
  // event loop runs, with the frame there.
  if (!app.InitInstance()) return app.ExitInstance(0);

  const int code = QApplication::exec();
  return app.ExitInstance(code);
}
