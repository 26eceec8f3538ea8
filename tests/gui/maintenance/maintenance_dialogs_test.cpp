// The maintenance commands of the main frame offscreen, against the
// in-process stand-in: the confirmations' texts, the FORMAT dialog's hidden
// keys, and the firmware update from the file dialog to the program's end.
#include "gui/maintenance/maintenance_dialogs.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFileDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <fstream>
#include <functional>

#include "emulator/recorder_emulator.h"
#include "emulator/recorder_store.h"
#include "emulator/update_packer.h"
#include "gui/common/task_queue.h"
#include "gui/frame/app_state.h"
#include "gui/frame/command_rules.h"
#include "gui/frame/main_frame.h"
#include "link/recorder_link.h"
#include "maintenance/firmware_update.h"
#include "maintenance/memory_maintenance.h"
#include "settings/recorder_model.h"
#include "support/temp_dir.h"

using namespace lyr;

namespace {

// A connected frame on an in-process stand-in recorder.
struct Connected {
  lyr_test::TempDir dir;
  std::unique_ptr<lyr_emu::RecorderStore> store;
  std::unique_ptr<lyr_emu::RecorderEmulator> emulator;
  AppState app;
  std::unique_ptr<RecorderLink> link;
  RecorderModel model;
  LinkEvents events;
  TaskQueue worker;
  std::unique_ptr<CMainFrame> frame;

  explicit Connected(const std::function<void(lyr_emu::RecorderStore&)>& configure = {}) {
    auto created = lyr_emu::RecorderStore::Create(dir / "store");
    if (!created) qFatal("stand-in store: %s", created.error().context.c_str());
    store = std::move(created).value();
    if (configure) configure(*store);
    // One recording, for a format to erase.
    const auto data = dir / "data.bin";
    std::ofstream(data, std::ios::binary) << std::string(4096, 'x');
    if (!store->AddRecording(std::array<uint8_t, 652>{}, data, 0, 4096)) qFatal("stand-in recording");
    emulator = std::make_unique<lyr_emu::RecorderEmulator>(*store);
    link = std::make_unique<RecorderLink>(
        [this](const std::string&) { return RawDriveOpenResult(emulator->Connect()); });
    link->SetSettleDelay(std::chrono::milliseconds(0));
    link->ResetLinkState();
    frame = std::make_unique<CMainFrame>(FrameServices{app, *link, model, nullptr, worker, events});
    frame->OnCreate();
    frame->show();
    if (link->OpenLink("stand-in") != 0) qFatal("stand-in link did not open");
    link->SetDriveOpen(true);
    frame->OnConnectionChanged(ConnectionReport{ConnectionReport::Kind::kLinked, 0, {}});
  }
  bool Ready() const { return frame->ConnectionText() == "LYR Connected"; }
};

// Runs `act` on the next modal window of type T, from the event loop that
// the window's exec runs.
template <typename T>
void WhenModal(std::function<void(T*)> act) {
  auto* timer = new QTimer(qApp);
  timer->setInterval(20);
  QObject::connect(timer, &QTimer::timeout, qApp, [timer, act] {
    if (auto* w = qobject_cast<T*>(QApplication::activeModalWidget()); w != nullptr && w->isVisible()) {
      timer->stop();
      timer->deleteLater();
      // A window may become modal while its show still runs, before its
      // exec waits: act from the event loop a moment later.
      QTimer::singleShot(30, w, [act, w] { act(w); });
    }
  });
  timer->start();
}

QString Label(QWidget* dialog, const char* name) { return dialog->findChild<QLabel*>(name)->text(); }

void Choose(QDialog* dialog, bool yes) {
  dialog->findChild<QAbstractButton*>(yes ? "yes" : "cancel")->click();
  dialog->findChild<QAbstractButton*>("ok")->click();
}

struct Seen {
  QString title, prompt, information;
};

}  // namespace

class MaintenanceDialogsTest : public QObject {
  Q_OBJECT
 private slots:
  void ConfirmationsShowTheirTextsAndActOnlyOnYes();
  void HiddenKeysFormatOnlyFromTheFormatDialog_data();
  void HiddenKeysFormatOnlyFromTheFormatDialog();
  void UpdateFromTheFileDialogEndsTheProgram();
  void FailedUpdateSaysWhyAndKeepsTheProgram();
};

void MaintenanceDialogsTest::ConfirmationsShowTheirTextsAndActOnlyOnYes() {
  Connected c([](lyr_emu::RecorderStore& store) {
    // The prefix field holds four letters and four NULs.
    const char prefix[8] = {'A', 'B', 'C', 'D', 0, 0, 0, 0};
    std::copy(prefix, prefix + 8, store.settings().begin() + 92);
    store.config().file_counter = 42;
  });
  QTRY_VERIFY(c.Ready());

  struct Case {
    QAction* FrameActions::*command;
    FrameOperation operation;
    bool yes;
    QString title, prompt, information;
  };
  const Case cases[] = {
      {&FrameActions::reset_file_counter, FrameOperation::kResetFileCounter, false, "RESET FILE COUNTER",
       "Beware resetting can cause overwriting of\n none erased files?\nSelect \"Cancel\" or \"Yes\" + OK",
       "Highest index number = ABCD0042"},
      {&FrameActions::reset_file_counter,
       FrameOperation::kResetFileCounter,
       true,
       "RESET FILE COUNTER",
       {},
       "Highest index number = ABCD0042"},
      {&FrameActions::format, FrameOperation::kFormat, false, "FORMAT",
       "Formatting will erase all files?\nSelect \"Cancel\" or \"Yes\" + OK",
       "Memory status: Used 0 MB, Free 1906 MB"},
      {&FrameActions::format, FrameOperation::kFormat, true, "FORMAT", {}, {}},
  };
  for (const Case& k : cases) {
    Seen seen;
    WhenModal<QDialog>([&seen, yes = k.yes](QDialog* d) {
      seen = {d->windowTitle(), Label(d, "message"), Label(d, "information")};
      Choose(d, yes);
    });
    (c.frame->Actions().*k.command)->trigger();
    QTRY_COMPARE(seen.title, k.title);  // the reset asks once its worker read the highest index
    if (!k.prompt.isEmpty()) QCOMPARE(seen.prompt, k.prompt);
    if (!k.information.isEmpty()) QCOMPARE(seen.information, k.information);
    // Cancelling sends nothing; Yes + OK does what the title says.
    QTRY_VERIFY(!c.frame->IsRunning(k.operation));
    if (k.operation == FrameOperation::kResetFileCounter)
      QCOMPARE(c.store->config().file_counter, k.yes ? 0u : 42u);
    if (k.operation == FrameOperation::kFormat) QCOMPARE(c.store->recordings().empty(), k.yes);
  }
}

void MaintenanceDialogsTest::HiddenKeysFormatOnlyFromTheFormatDialog_data() {
  QTest::addColumn<QString>("title");
  QTest::addColumn<int>("modifiers");
  QTest::addColumn<int>("key");
  QTest::addColumn<bool>("hidden");
  const int ctrl_shift = static_cast<int>((Qt::ControlModifier | Qt::ShiftModifier).toInt());
  QTest::newRow("FORMAT, Ctrl+Shift+F11") << "FORMAT" << ctrl_shift << int(Qt::Key_F11) << true;
  QTest::newRow("FORMAT, Ctrl+F11") << "FORMAT" << int(Qt::ControlModifier) << int(Qt::Key_F11) << false;
  QTest::newRow("FORMAT, Ctrl+Shift+Alt+F11")
      << "FORMAT" << (ctrl_shift | int(Qt::AltModifier)) << int(Qt::Key_F11) << false;
  QTest::newRow("FORMAT, Ctrl+Shift+F10") << "FORMAT" << ctrl_shift << int(Qt::Key_F10) << false;
  QTest::newRow("RESET FILE COUNTER, Ctrl+Shift+F11")
      << "RESET FILE COUNTER" << ctrl_shift << int(Qt::Key_F11) << false;
}

void MaintenanceDialogsTest::HiddenKeysFormatOnlyFromTheFormatDialog() {
  QFETCH(QString, title);
  QFETCH(int, modifiers);
  QFETCH(int, key);
  QFETCH(bool, hidden);
  bool still_open = false;
  WhenModal<QDialog>([&](QDialog* d) {
    // Sent to a child: the keys count wherever the focus is in the dialog.
    QTest::keyClick(d->findChild<QAbstractButton*>("ok"), static_cast<Qt::Key>(key),
                    Qt::KeyboardModifiers::fromInt(modifiers));
    QTimer::singleShot(50, d, [&still_open, d] {
      still_open = d->isVisible();
      if (still_open) Choose(d, false);
    });
  });
  const ConfirmAnswer answer = RunConfirmation(nullptr, title, "prompt", "information");
  QCOMPARE(answer, hidden ? ConfirmAnswer::kHiddenFormat : ConfirmAnswer::kCancelled);
  QCOMPARE(still_open, !hidden);

  if (!hidden) return;
  // Through the frame: the dialog closes as cancelled and the format runs.
  Connected c;
  QTRY_VERIFY(c.Ready());
  WhenModal<QDialog>(
      [](QDialog* d) { QTest::keyClick(d, Qt::Key_F11, Qt::ControlModifier | Qt::ShiftModifier); });
  c.frame->Actions().format->trigger();
  QTRY_VERIFY(!c.frame->IsRunning(FrameOperation::kFormat));
  QVERIFY(c.store->recordings().empty());
}

void MaintenanceDialogsTest::UpdateFromTheFileDialogEndsTheProgram() {
  Connected c;
  QTRY_VERIFY(c.Ready());
  const auto image = lyr_emu::MakeSampleImage(5000);
  const auto packed = lyr_emu::PackUpdate(image);
  QVERIFY(packed);
  const auto path = c.dir / "fw.coe";
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(packed.value().data()),
             static_cast<std::streamsize>(packed.value().size()));

  // The file dialog as the command builds it; the choice is made for it.
  std::unique_ptr<QFileDialog> dialog(CFirmwareUpdateRunner::MakeFileDialog(c.frame.get()));
  QCOMPARE(dialog->windowTitle(), QString("Open Update File"));
  QCOMPARE(dialog->nameFilters(), QStringList({"Torvi Update File (*.coe)", "All Files (*.*)"}));
  QCOMPARE(dialog->fileMode(), QFileDialog::ExistingFile);
  CFirmwareUpdateRunner::SetFileChooser([&path](QWidget*) { return QString::fromStdString(path.string()); });
  Seen box;
  // Asked once before anything is written, naming the file and the
  // firmware it replaces; No unless the user says Yes.
  Seen question;
  QMessageBox::StandardButton preset = QMessageBox::NoButton;
  WhenModal<QMessageBox>([&](QMessageBox* q) {
    question = {q->windowTitle(), q->text(), {}};
    preset = q->standardButton(q->defaultButton());
    q->button(QMessageBox::Yes)->click();
    WhenModal<QMessageBox>([&box](QMessageBox* m) {
      box = {m->windowTitle(), m->text(), {}};
      m->accept();
    });
  });
  QSignalSpy exit_ready(c.frame.get(), &CMainFrame::exitReady);
  c.frame->Actions().update->trigger();
  // The GUI thread runs on while the update is written and read back.
  QTRY_COMPARE_WITH_TIMEOUT(box.title, QString("Information"), 20000);
  QCOMPARE(question.title, QString("UPDATE FIRMWARE"));
  QVERIFY2(question.prompt.contains("firmware V") &&
               question.prompt.contains(QString::fromStdString(path.string())),
           qPrintable(question.prompt));
  QCOMPARE(preset, QMessageBox::No);
  QCOMPARE(box.prompt, QString(kUpdateSucceeded));
  QCOMPARE(c.store->firmware(), image);
  QTRY_COMPARE(exit_ready.count(), 1);
  CFirmwareUpdateRunner::SetFileChooser({});
}

void MaintenanceDialogsTest::FailedUpdateSaysWhyAndKeepsTheProgram() {
  Connected c([](lyr_emu::RecorderStore& store) { store.config().firmware_readback_bad_piece = 2; });
  QTRY_VERIFY(c.Ready());
  const auto packed = lyr_emu::PackUpdate(lyr_emu::MakeSampleImage(5000));
  QVERIFY(packed);
  const auto path = c.dir / "fw.coe";
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(packed.value().data()),
             static_cast<std::streamsize>(packed.value().size()));
  CFirmwareUpdateRunner::SetFileChooser([&path](QWidget*) { return QString::fromStdString(path.string()); });
  Seen box;
  WhenModal<QMessageBox>([&box](QMessageBox* q) {
    q->button(QMessageBox::Yes)->click();  // the question before the update
    WhenModal<QMessageBox>([&box](QMessageBox* m) {
      box = {m->windowTitle(), m->text(), {}};
      m->accept();
    });
  });
  c.frame->Actions().update->trigger();
  QTRY_COMPARE_WITH_TIMEOUT(box.title, QString("Error"), 20000);
  QCOMPARE(box.prompt, QString(kVerifyFailed));
  QTRY_VERIFY(!c.frame->IsRunning(FrameOperation::kFirmwareUpdate));
  QVERIFY(!c.frame->ExitRequested());
  QVERIFY(c.link->IsDriveOpen());
  CFirmwareUpdateRunner::SetFileChooser({});
}

QTEST_MAIN(MaintenanceDialogsTest)
#include "maintenance_dialogs_test.moc"
