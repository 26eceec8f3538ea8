// The main frame offscreen: command enabling from the link state, the rights
// and the Window menu; the Window menu's recent list; the connection pane;
// the closing sequence and the operations it waits for; the access error box; the About box.
#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QSignalSpy>
#include <QStackedWidget>
#include <QSystemTrayIcon>
#include <QTest>
#include <QTimer>
#include <map>

#include "emulator/recorder_emulator.h"
#include "emulator/recorder_store.h"
#include "gui/common/task_queue.h"
#include "gui/frame/about_box.h"
#include "gui/frame/app_state.h"
#include "gui/frame/command_rules.h"
#include "gui/frame/empty_state.h"
#include "gui/frame/main_frame.h"
#include "link/recorder_link.h"
#include "link/recorder_watcher.h"
#include "platform/last_error.h"
#include "settings/recorder_model.h"
#include "support/temp_dir.h"

using namespace lyr;

namespace {

// A page that counts how often the model redraws it.
class CountingPage : public QWidget, public ModelListener {
 public:
  explicit CountingPage(const QString& title, QWidget* parent) : QWidget(parent, Qt::Window) {
    setWindowTitle(title);
  }
  void LoadFromModel() override {}
  void Prepare() override {}
  void Show() override { ++shows; }
  int shows = 0;
};

// An in-process stand-in recorder and a link whose drive opens on it.
struct StandIn {
  lyr_test::TempDir dir;
  std::unique_ptr<lyr_emu::RecorderStore> store;
  std::unique_ptr<lyr_emu::RecorderEmulator> emulator;

  explicit StandIn(uint16_t firmware = 6021) {
    auto created = lyr_emu::RecorderStore::Create(dir / "store");
    if (!created) qFatal("stand-in store: %s", created.error().context.c_str());
    store = std::move(created).value();
    store->config().firmware_version = firmware;
    emulator = std::make_unique<lyr_emu::RecorderEmulator>(*store);
  }
  std::unique_ptr<RecorderLink> Link() {
    auto link = std::make_unique<RecorderLink>(
        [this](const std::string&) { return RawDriveOpenResult(emulator->Connect()); });
    link->SetSettleDelay(std::chrono::milliseconds(0));
    link->ResetLinkState();
    return link;
  }
};

struct FrameFixture {
  AppState app;
  std::unique_ptr<RecorderLink> own_link;
  RecorderLink& link;
  RecorderModel model;
  LinkEvents events;
  TaskQueue worker;  // after events: its last jobs still report
  CMainFrame frame{FrameServices{app, link, model, nullptr, worker, events}};

  explicit FrameFixture(std::unique_ptr<RecorderLink> given = std::make_unique<RecorderLink>())
      : own_link(std::move(given)), link(*own_link) {
    frame.OnCreate();
  }

  void SetLink(bool connected, bool open, bool refused) {
    link.SetDriveOpen(connected);
    link.SetAccessGranted(open);
    link.SetRecorderRefused(refused);
    frame.UpdateCommandUI();
  }
  bool Enabled(QAction* FrameActions::*command) const { return (frame.Actions().*command)->isEnabled(); }
};

QStringList WindowEntries(const CMainFrame& frame) {
  QStringList out;
  const QList<QAction*> items = frame.WindowMenu()->actions();
  for (int i = 2; i < items.size(); ++i) out << items[i]->text();
  return out;
}

}  // namespace

class FrameTest : public QObject {
  Q_OBJECT
 private slots:
  void RulesTable_data();
  void RulesTable();
  void MenuActionsFollowTheLinkAndTheRights();
  void WindowMenuListsShownPagesMostRecentFirst();
  void PaneAppearsWithTheFirstReport();
  void ConnectingBringsTheFrameBackAndFillsTheModel();
  void StartWithoutARecorderShowsTheEmptyState();
  void OldFirmwareIsReleasedSilently();
  void AccessErrorTellsAHeldRecorderFromMissingRights();
  void ClosingWithoutExitKeepsTheProgram();
  void UnpluggingDuringWorkKeepsTheWindow();
  void ExitWaitsForTheRunningOperations();
  void ExitEndsAnOpenSettingDialog();
  void AboutShowsTheVersionWithoutCommasAndBlanks();
  void TempPathIsReadAndWrittenBack();
};

void FrameTest::RulesTable_data() {
  QTest::addColumn<QString>("rule");
  QTest::addColumn<bool>("connected");
  QTest::addColumn<bool>("open");
  QTest::addColumn<bool>("refused");
  QTest::addColumn<bool>("admin");
  QTest::addColumn<uint>("mask");
  QTest::addColumn<bool>("enabled");
  const uint all = 0xFFFFFFFF;
  // rule, connected, open, refused, admin, mask -> enabled
  QTest::newRow("remove, none") << QString("SafelyRemove") << false << false << true << true << all << false;
  QTest::newRow("remove, drive open")
      << QString("SafelyRemove") << true << false << true << false << 0u << true;
  QTest::newRow("update, no rights") << QString("Update") << true << true << false << false << 0u << false;
  QTest::newRow("update, bit 2") << QString("Update") << true << false << true << false << kRightUpdate
                                 << true;
  QTest::newRow("update, admin") << QString("Update") << true << false << true << true << 0u << true;
  QTest::newRow("update, none") << QString("Update") << false << false << true << true << all << false;
  QTest::newRow("setting, no recorder")
      << QString("Setting") << false << false << true << false << all << true;
  QTest::newRow("setting, no rights")
      << QString("Setting") << true << true << false << false << ~kRightSetting << false;
  QTest::newRow("file type, usable") << QString("FileType") << true << true << false << false << all << true;
  QTest::newRow("file type, refused") << QString("FileType") << true << true << true << true << all << false;
  QTest::newRow("file type, no access")
      << QString("FileType") << true << false << false << true << all << false;
  QTest::newRow("file type, other bits")
      << QString("FileType") << true << true << false << false << ~kRightFileType << false;
  QTest::newRow("date, no rights") << QString("DateTime") << true << true << false << false << ~kRightDateTime
                                   << false;
  QTest::newRow("date, admin") << QString("DateTime") << true << true << false << true << 0u << true;
  QTest::newRow("format, no rights") << QString("Format") << true << true << false << false << ~kRightFormat
                                     << false;
  QTest::newRow("format, usable") << QString("Format") << true << true << false << false << kRightFormat
                                  << true;
  QTest::newRow("machine info, usable, no rights")
      << QString("RecorderUsable") << true << true << false << false << 0u << true;
  QTest::newRow("machine info, refused")
      << QString("RecorderUsable") << true << true << true << true << all << false;
  QTest::newRow("reset counter, no access")
      << QString("RecorderUsable") << true << false << false << true << all << false;
  QTest::newRow("connect, released") << QString("Connect") << false << false << true << false << 0u << true;
  QTest::newRow("connect, none released")
      << QString("none-released") << false << false << true << true << all << false;
  QTest::newRow("about, nothing") << QString("none") << false << false << true << false << 0u << true;
}

void FrameTest::RulesTable() {
  QFETCH(QString, rule);
  QFETCH(bool, connected);
  QFETCH(bool, open);
  QFETCH(bool, refused);
  QFETCH(bool, admin);
  QFETCH(uint, mask);
  QFETCH(bool, enabled);
  CommandState s;
  s.connected = connected;
  s.open = open;
  s.refused = refused;
  s.admin = admin;
  s.mask = mask;
  s.released = rule == "Connect";
  if (rule == "none-released") rule = "Connect";
  // No rule: always enabled.
  const std::map<QString, CommandRule> rules = {{"SafelyRemove", rule::SafelyRemove},
                                                {"Update", rule::Update},
                                                {"Setting", rule::Setting},
                                                {"FileType", rule::FileType},
                                                {"DateTime", rule::DateTime},
                                                {"Format", rule::Format},
                                                {"RecorderUsable", rule::RecorderUsable},
                                                {"Connect", rule::Connect}};
  const auto it = rules.find(rule);
  QCOMPARE(it == rules.end() || it->second(s), enabled);
}

void FrameTest::MenuActionsFollowTheLinkAndTheRights() {
  FrameFixture f;
  // Nothing plugged in: only what needs no recorder.
  f.SetLink(false, false, true);
  for (auto command : {&FrameActions::safely_remove, &FrameActions::update, &FrameActions::file_type,
                       &FrameActions::date_time, &FrameActions::format, &FrameActions::machine_information,
                       &FrameActions::close_all})
    QVERIFY2(!f.Enabled(command), qPrintable((f.frame.Actions().*command)->objectName()));
  for (auto command : {&FrameActions::setting, &FrameActions::exit, &FrameActions::about})
    QVERIFY(f.Enabled(command));
  QVERIFY(!f.frame.Actions().tray_safely_remove->isEnabled());

  // Connected and usable: everything the recorder allows.
  f.SetLink(true, true, false);
  for (auto command : {&FrameActions::safely_remove, &FrameActions::update, &FrameActions::file_type,
                       &FrameActions::date_time, &FrameActions::format, &FrameActions::machine_information,
                       &FrameActions::setting})
    QVERIFY2(f.Enabled(command), qPrintable((f.frame.Actions().*command)->objectName()));
  QVERIFY(f.frame.Actions().tray_safely_remove->isEnabled());

  // Without rights the guarded commands go, the others stay.
  f.app.admin = false;
  f.app.command_rights = 0;
  f.frame.UpdateCommandUI();
  for (auto command : {&FrameActions::update, &FrameActions::file_type, &FrameActions::date_time,
                       &FrameActions::format, &FrameActions::setting})
    QVERIFY2(!f.Enabled(command), qPrintable((f.frame.Actions().*command)->objectName()));
  QVERIFY(f.Enabled(&FrameActions::machine_information));
  QVERIFY(f.Enabled(&FrameActions::safely_remove));
  f.app.admin = true;
  f.frame.UpdateCommandUI();
  QVERIFY(f.Enabled(&FrameActions::format));

  // A disabled command does not run from a stale trigger either.
  f.SetLink(false, false, true);
  QSignalSpy released(&f.events, &LinkEvents::recorderReleased);
  f.frame.Actions().safely_remove->trigger();
  QTest::qWait(200);
  QCOMPARE(released.count(), 0);
}

void FrameTest::WindowMenuListsShownPagesMostRecentFirst() {
  FrameFixture f;
  f.SetLink(true, true, false);
  // The hosted pages in their order, then one of the test's own.
  QCOMPARE(f.frame.Pages().size(), size_t{3});
  QCOMPARE(f.frame.Pages()[0]->windowTitle(), QString("TIME & DATE"));
  QCOMPARE(f.frame.Pages()[1]->windowTitle(), QString("FILE TYPE"));
  auto* own = new CountingPage("OWN", &f.frame);
  QCOMPARE(f.frame.AddPage(own, nullptr), 3);
  QVERIFY(!f.Enabled(&FrameActions::close_all));

  f.frame.Actions().date_time->trigger();
  QCOMPARE(WindowEntries(f.frame), QStringList{"TIME && DATE"});
  QVERIFY(f.Enabled(&FrameActions::close_all));
  QCOMPARE(f.frame.WindowMenu()->actions()[2]->objectName(), QString("windowPage0"));
  f.frame.Actions().file_type->trigger();
  QCOMPARE(WindowEntries(f.frame), (QStringList{"FILE TYPE", "TIME && DATE"}));
  // Shown again: moved to the top, not listed twice.
  f.frame.Actions().date_time->trigger();
  QCOMPARE(WindowEntries(f.frame), (QStringList{"TIME && DATE", "FILE TYPE"}));
  // A Window menu entry shows its page again.
  f.frame.Pages()[1]->hide();
  QCOMPARE(WindowEntries(f.frame), QStringList{"TIME && DATE"});

  // A page the frame registers is told of model changes only while shown.
  own->show();
  QCOMPARE(WindowEntries(f.frame), (QStringList{"OWN", "TIME && DATE"}));
  // A page's mark set off by blanks reads as a mark, not as a gap.
  own->setWindowTitle("OWN   NOT SET");
  QCOMPARE(WindowEntries(f.frame), (QStringList{"OWN (NOT SET)", "TIME && DATE"}));
  own->setWindowTitle("OWN");
  const int before = own->shows;
  f.model.NotifyListeners(nullptr);
  QVERIFY(own->shows > before);
  own->hide();
  const int hidden_shows = own->shows;
  f.model.NotifyListeners(nullptr);
  QCOMPARE(own->shows, hidden_shows);

  f.frame.Actions().close_all->trigger();
  QVERIFY(!f.frame.Pages()[0]->isVisible());
  QVERIFY(WindowEntries(f.frame).isEmpty());
  QVERIFY(!f.Enabled(&FrameActions::close_all));
}

void FrameTest::PaneAppearsWithTheFirstReport() {
  FrameFixture f;
  QVERIFY(f.frame.ConnectionText().isEmpty());
  QVERIFY(f.frame.findChild<QLabel*>("connectionPane") == nullptr);
  f.frame.OnConnectionChanged(ConnectionReport{});
  QCOMPARE(f.frame.ConnectionText(), QString("No LYR found"));
  QVERIFY(f.frame.findChild<QLabel*>("connectionPane") != nullptr);
  // A sequence that ends after the recorder went again counts for nothing.
  f.frame.OnConnectionCompleted(12345, ConnectionResult::kReady, std::make_shared<RecorderModel>());
  QCOMPARE(f.frame.ConnectionText(), QString("No LYR found"));
}

void FrameTest::ConnectingBringsTheFrameBackAndFillsTheModel() {
  StandIn stand_in;
  FrameFixture f(stand_in.Link());
  f.frame.show();
  f.frame.close();  // put away (minimised: no tray offscreen)
  QTRY_VERIFY(f.frame.IsHiddenInTray());
  QCOMPARE(f.link.OpenLink("stand-in"), 0);
  f.link.SetDriveOpen(true);
  f.frame.OnConnectionChanged(ConnectionReport{ConnectionReport::Kind::kLinked, 0, {}});
  QTRY_COMPARE(f.frame.ConnectionText(), QString("LYR Connected"));
  QCOMPARE(f.model.FirmwareVersion(), 6021);
  QVERIFY(f.model.RecorderNow().has_value());
  QVERIFY(!f.frame.IsHiddenInTray());
  QVERIFY(f.frame.isVisible() && !f.frame.isMinimized());
  QVERIFY(f.Enabled(&FrameActions::file_type));
  QVERIFY(f.Enabled(&FrameActions::safely_remove));

  auto* stack = f.frame.findChild<QStackedWidget*>("clientStack");
  QVERIFY(stack != nullptr);
  QCOMPARE(stack->currentIndex(), 1);  // the player's place

  // Safely Remove: released on the worker, the commands follow, and the
  // window says the recorder may go.
  f.frame.Actions().safely_remove->trigger();
  QTRY_VERIFY(!f.Enabled(&FrameActions::safely_remove));
  QVERIFY(!f.link.IsDriveOpen());
  QVERIFY(!f.Enabled(&FrameActions::file_type));
  QCOMPARE(f.frame.ConnectionText(), QString(kReleasedText));
  QCOMPARE(stack->currentIndex(), 0);
  QCOMPARE(f.frame.findChild<CEmptyState*>()->Headline(), QString(kReleasedText));
}

void FrameTest::StartWithoutARecorderShowsTheEmptyState() {
  StandIn stand_in;
  FrameFixture f(stand_in.Link());
  f.frame.show();
  f.frame.OnConnectionChanged(ConnectionReport{});
  QTest::qWait(100);
  // Nothing was linked yet: the window stays, saying what to do.
  QVERIFY(f.frame.isVisible() && !f.frame.isMinimized() && !f.frame.IsHiddenInTray());
  auto* empty = f.frame.findChild<CEmptyState*>();
  QVERIFY(empty != nullptr && empty->isVisible());
  QCOMPARE(empty->Headline(), QString("No LYR found"));
  QVERIFY(empty->Help().contains("USB cable"));

  // A click on the tray icon brings a window put away back.
  f.frame.close();
  QTRY_VERIFY(f.frame.IsHiddenInTray());
  emit f.frame.findChild<QSystemTrayIcon*>()->activated(QSystemTrayIcon::Trigger);
  QTRY_VERIFY(!f.frame.IsHiddenInTray() && !f.frame.isMinimized());

  // Once a recorder was linked, its leaving puts the window away as before.
  QCOMPARE(f.link.OpenLink("stand-in"), 0);
  f.link.SetDriveOpen(true);
  f.frame.OnConnectionChanged(ConnectionReport{ConnectionReport::Kind::kLinked, 0, {}});
  QTRY_COMPARE(f.frame.ConnectionText(), QString("LYR Connected"));
  QVERIFY(!empty->isVisible());
  f.link.CloseDrive();
  f.link.SetDriveOpen(false);
  f.frame.OnConnectionChanged(ConnectionReport{});
  QTRY_VERIFY(f.frame.IsHiddenInTray());
}

void FrameTest::OldFirmwareIsReleasedSilently() {
  StandIn stand_in(5999);
  FrameFixture f(stand_in.Link());
  f.frame.show();
  f.frame.OnConnectionChanged(ConnectionReport{});
  f.frame.close();  // put away
  QTRY_VERIFY(f.frame.IsHiddenInTray());
  QCOMPARE(f.link.OpenLink("stand-in"), 0);
  f.link.SetDriveOpen(true);
  f.frame.OnConnectionChanged(ConnectionReport{ConnectionReport::Kind::kLinked, 0, {}});
  QTRY_VERIFY(!f.link.IsDriveOpen());
  QTest::qWait(100);
  // The indicator keeps its text and the frame stays put away.
  QCOMPARE(f.frame.ConnectionText(), QString("No LYR found"));
  QVERIFY(f.frame.IsHiddenInTray());
  QVERIFY(!f.Enabled(&FrameActions::machine_information));
}

void FrameTest::AccessErrorTellsAHeldRecorderFromMissingRights() {
  struct Case {
    quint32 code;
    QString context;
    QString text;
  };
  const Case cases[] = {
      // A Linux user is told about the udev rule and the group, never to run as root.
      {kErrorIoDevice, "open /dev/sdq",
       "Access LYR error: this user may not read and write the LYR's disk. Install the udev rule "
       "70-lyr-recorder.rules (it gives access to the user at the desktop and to the group plugdev) or "
       "add this user to the group plugdev, then plug the LYR in again (open /dev/sdq)"},
      {kErrorSharingViolation, "lyrctl, pid 4242",
       "The LYR is in use by another program, Please close it and plug the LYR in again (lyrctl, pid 4242)"},
  };
  for (const Case& c : cases) {
    FrameFixture f;
    f.frame.show();
    f.frame.OnConnectionChanged(ConnectionReport{ConnectionReport::Kind::kOpenFailed, c.code, c.context});
    auto* box = f.frame.findChild<QMessageBox*>("accessErrorBox");
    QVERIFY(box != nullptr);
    QCOMPARE(box->windowTitle(), QString("Error"));
    QCOMPARE(box->text(), c.text);
    QCOMPARE(f.frame.ConnectionText(), QString("No LYR found"));
    // No recorder was linked since the start: the frame stays, with the
    // box over its empty state.
    QVERIFY(!f.frame.IsClosing());
    box->accept();
    QTest::qWait(50);
    QVERIFY(!f.frame.isMinimized() && !f.frame.IsHiddenInTray());
  }
}

void FrameTest::ClosingWithoutExitKeepsTheProgram() {
  FrameFixture f;
  f.frame.show();
  QSignalSpy exit_ready(&f.frame, &CMainFrame::exitReady);
  auto* warning = new QMessageBox(QMessageBox::Warning, "Warning", "text", QMessageBox::Ok, &f.frame);
  warning->show();
  f.frame.close();
  // No tray offscreen: minimised, never hidden where it could not be found.
  QTRY_VERIFY(f.frame.isMinimized());
  QVERIFY(f.frame.isVisible());
  QVERIFY(!warning->isVisible());
  QCOMPARE(exit_ready.count(), 0);
  QVERIFY(!f.frame.IsClosing());
}

// Unplugging puts the window away, unless it interrupted work whose owner
// explains what became of it: then the window stays where it was, and work
// that no longer needs the recorder (a burn's writing) is not stopped.
void FrameTest::UnpluggingDuringWorkKeepsTheWindow() {
  for (const bool interrupted : {false, true}) {
    StandIn stand_in;
    FrameFixture f(stand_in.Link());
    f.frame.show();
    QVERIFY(QTest::qWaitForWindowExposed(&f.frame));
    // A recorder was linked: its leaving with nothing running puts the window away.
    QCOMPARE(f.link.OpenLink("stand-in"), 0);
    f.link.SetDriveOpen(true);
    f.frame.OnConnectionChanged(ConnectionReport{ConnectionReport::Kind::kLinked, 0, {}});
    QTRY_COMPARE(f.frame.ConnectionText(), QString("LYR Connected"));
    f.link.CloseDrive();
    f.link.SetDriveOpen(false);
    int asked = 0;
    int stopped = 0;
    auto* panel = new QWidget(&f.frame, Qt::Tool);
    f.frame.SetCopyBurnPanel(
        panel, [&] { ++stopped; }, [] { return false; });
    f.frame.SetRecorderLeftHandler([&] {
      ++asked;
      return interrupted;
    });
    f.frame.OnConnectionChanged(ConnectionReport{});  // gone
    QCOMPARE(asked, 1);
    QTest::qWait(100);
    QCOMPARE(f.frame.ConnectionText(), QString("No LYR found"));
    QCOMPARE(f.frame.isMinimized() || f.frame.IsHiddenInTray(), !interrupted);
    QCOMPARE(stopped, interrupted ? 0 : 1);
    QVERIFY(!f.frame.IsClosing());
  }
}

void FrameTest::ExitWaitsForTheRunningOperations() {
  FrameFixture f;
  f.frame.show();
  QSignalSpy exit_ready(&f.frame, &CMainFrame::exitReady);
  f.frame.OperationStarted(FrameOperation::kFormat);
  bool page_writing = true;  // and a page's Apply
  f.frame.SetPagesBusy([&] { return page_writing; });
  f.frame.RequestExit();
  QTest::qWait(300);
  QCOMPARE(exit_ready.count(), 0);
  QVERIFY(f.frame.IsClosing());
  QVERIFY(f.frame.isVisible());  // the user keeps a window while it waits
  // Reports that come meanwhile wait too.
  f.frame.OnConnectionChanged(ConnectionReport{});
  QVERIFY(f.frame.ConnectionText().isEmpty());
  f.frame.OperationEnded(FrameOperation::kFormat);
  QTest::qWait(200);
  QCOMPARE(exit_ready.count(), 0);
  page_writing = false;
  QTRY_COMPARE(exit_ready.count(), 1);
  QVERIFY(!f.frame.isVisible());
}

void FrameTest::ExitEndsAnOpenSettingDialog() {
  FrameFixture f;
  f.frame.show();
  f.app.temp_folder = "/var/tmp";
  QSignalSpy exit_ready(&f.frame, &CMainFrame::exitReady);
  QString shown_folder;
  bool waited_for = false;
  QTimer::singleShot(100, &f.frame, [&] {
    auto* dialog = f.frame.findChild<QDialog*>("setting_dialog");
    QVERIFY(dialog != nullptr && dialog->isVisible());
    shown_folder = dialog->findChild<QLineEdit*>("temporary_files")->text();
    waited_for = f.frame.IsRunning(FrameOperation::kSettingDialog);
    f.frame.RequestExit();
  });
  f.frame.Actions().setting->trigger();  // runs modally until the exit ends it
  QCOMPARE(shown_folder, QString("/var/tmp"));
  QVERIFY(waited_for);
  QVERIFY(!f.frame.IsRunning(FrameOperation::kSettingDialog));
  QTRY_COMPARE(exit_ready.count(), 1);
  QVERIFY(f.frame.findChild<QDialog*>("setting_dialog") == nullptr);
}

void FrameTest::AboutShowsTheVersionWithoutCommasAndBlanks() {
  QCOMPARE(AboutVersionText("1, 0, 2, 4"), std::string("V 1024"));
  QCOMPARE(AboutVersionText("6,0,1 2"), std::string("V 6012"));
  QCOMPARE(AboutVersionText(""), std::string());
  CAboutBox box;
  QCOMPARE(box.windowTitle(), QString("TORVI LYR INFORMATION"));
  QVERIFY(box.VersionText().startsWith("V "));
  QVERIFY(!box.VersionText().contains(','));
  QVERIFY(!box.DateText().isEmpty());
}

void FrameTest::TempPathIsReadAndWrittenBack() {
  lyr_test::TempDir dir;
  const std::string ini = (dir / "cfgfile.ini").string();
  QCOMPARE(ReadTempPath(ini, "/tmp"), std::string("/tmp"));
  QCOMPARE(WriteTempPath(ini, "/var/tmp/lyr"), 1);
  QCOMPARE(ReadTempPath(ini, "/tmp"), std::string("/var/tmp/lyr"));
  QCOMPARE(WriteTempPath("", "/x"), 0);
  QCOMPARE(ReadTempPath("", "/tmp"), std::string("/tmp"));
}

QTEST_MAIN(FrameTest)
#include "frame_test.moc"
