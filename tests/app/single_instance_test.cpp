// One copy per user and display, between two real lyr-manager processes: a
// second start asks the first to come forward and ends without a window;
// another display gets its own copy; a stop signal ends the first cleanly.
#include <signal.h>
#include <sys/wait.h>

#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTest>
#include <filesystem>

#include "support/temp_dir.h"

namespace {

QString ManagerPath() { return QString(LYR_TEST_BINARY_DIR) + "/src/app/lyr-manager"; }

class Manager {
 public:
  Manager(const lyr_test::TempDir& dir, const QString& display) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("LYR_TRACE", "1");
    env.insert("XDG_RUNTIME_DIR", QString::fromStdString(dir.path().string()));
    env.insert("XDG_CONFIG_HOME", QString::fromStdString((dir / "config").string()));
    std::filesystem::create_directories(dir / "sys" / "block");
    env.insert("LYR_SYSFS_ROOT", QString::fromStdString((dir / "sys").string()));
    env.remove("WAYLAND_DISPLAY");
    env.insert("DISPLAY", display);
    process.setProcessEnvironment(env);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(ManagerPath(), {});
  }
  ~Manager() {
    if (process.state() != QProcess::NotRunning) {
      process.kill();
      process.waitForFinished(5000);
    }
  }
  // Reads the output until it holds `text`.
  bool WaitFor(const QString& text, int ms = 10000) {
    QElapsedTimer timer;
    timer.start();
    while (!output.contains(text)) {
      if (timer.elapsed() > ms) return false;
      process.waitForReadyRead(100);
      output += QString::fromUtf8(process.readAll());
      if (process.state() == QProcess::NotRunning) {
        output += QString::fromUtf8(process.readAll());
        return output.contains(text);
      }
    }
    return true;
  }
  QProcess process;
  QString output;
};

}  // namespace

class SingleInstanceTest : public QObject {
  Q_OBJECT
 private slots:
  void SecondStartRaisesTheFirstAndEnds();
};

void SingleInstanceTest::SecondStartRaisesTheFirstAndEnds() {
  lyr_test::TempDir dir;
  Manager first(dir, ":71");
  QVERIFY2(first.WaitFor("single instance: listening"), qPrintable(first.output));
  QVERIFY2(first.WaitFor("pane \"No LYR found\""), qPrintable(first.output));

  Manager second(dir, ":71");
  QVERIFY(second.process.waitForFinished(10000));
  QCOMPARE(second.process.exitStatus(), QProcess::NormalExit);
  QCOMPARE(second.process.exitCode(), 0);
  second.output += QString::fromUtf8(second.process.readAll());
  QVERIFY2(second.output.contains("asked it to come forward"), qPrintable(second.output));
  QVERIFY2(!second.output.contains("listening"), qPrintable(second.output));
  QVERIFY2(first.WaitFor("frame: raised by a second start"), qPrintable(first.output));

  // Another display is another desktop: a copy of its own.
  Manager other(dir, ":72");
  QVERIFY2(other.WaitFor("single instance: listening"), qPrintable(other.output));
  QCOMPARE(other.process.state(), QProcess::Running);

  // A stop signal runs the closing sequence to its end.
  for (Manager* m : {&first, &other}) {
    ::kill(static_cast<pid_t>(m->process.processId()), SIGTERM);
    QVERIFY(m->process.waitForFinished(10000));
    QCOMPARE(m->process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(m->process.exitCode(), 0);
  }

  // At exit the temporary folder went into cfgfile.ini: in the XDG folder
  // given, or beside the program when one already stands there.
  const QString beside = QString(LYR_TEST_BINARY_DIR) + "/src/app/cfgfile.ini";
  QFile ini(QFile::exists(beside) ? beside
                                  : QString::fromStdString((dir / "config" / "lyr-manager" / "cfgfile.ini").string()));
  QVERIFY2(ini.open(QIODevice::ReadOnly), qPrintable(ini.fileName()));
  const QString text = QString::fromUtf8(ini.readAll());
  QVERIFY2(text.contains("[common]") && text.contains("Temp_Path="), qPrintable(text));

  // The first is gone: the next start is the first again.
  Manager again(dir, ":71");
  QVERIFY2(again.WaitFor("single instance: listening"), qPrintable(again.output));
}

QTEST_GUILESS_MAIN(SingleInstanceTest)
#include "single_instance_test.moc"
