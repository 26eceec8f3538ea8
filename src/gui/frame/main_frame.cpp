#include "gui/frame/main_frame.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDateTime>
#include <QDialog>
#include <QDockWidget>
#include <QFileDialog>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPointer>
#include <QRegularExpression>
#include <QStackedWidget>
#include <QStatusBar>
#include <QTimer>
#include <algorithm>

#include "gui/common/task_queue.h"
#include "gui/frame/about_box.h"
#include "gui/frame/app_icon.h"
#include "gui/frame/empty_state.h"
#include "gui/frame/frame_hosting.h"
#include "gui/frame/system_tray.h"
#include "gui/maintenance/maintenance_dialogs.h"
#include "link/link_commands.h"
#include "link/recorder_link.h"
#include "link/recorder_watcher.h"
#include "maintenance/memory_maintenance.h"
#include "platform/last_error.h"
#include "platform/trace.h"
#include "settings/recorder_model.h"

namespace lyr {
namespace {

constexpr char kFrameTitle[] = "TORVI LYR";
#ifdef _WIN32
constexpr char kAccessErrorText[] = "Access LYR error, Please run with Administrator authority";
#else
// Root is never the answer on Linux: the udev rule (or its group) gives the
// user the recorder's disk.
constexpr char kAccessErrorText[] =
    "Access LYR error: this user may not read and write the LYR's disk. Install the udev rule "
    "70-lyr-recorder.rules (it gives access to the user at the desktop and to the group plugdev) or "
    "add this user to the group plugdev, then plug the LYR in again";
#endif
constexpr char kInUseText[] =
    "The LYR is in use by another program, Please close it and plug the LYR in again";
constexpr int kOutsideWorkPollMs = 50;

// A page title as a menu text: "&" shows as itself, not as a mnemonic, and
// a mark set off by a run of blanks ("TIME & DATE   NOT SET") in brackets,
// as blanks in a menu read as a gap.
QString MenuText(QString title) {
  static const QRegularExpression kMark(QStringLiteral("\\s{2,}(\\S.*)$"));
  title.replace(kMark, QStringLiteral(" (\\1)"));
  return title.replace('&', "&&");
}

}  // namespace

CMainFrame::CMainFrame(FrameServices services, QWidget* parent) : QMainWindow(parent), s_(services) {
  qRegisterMetaType<std::shared_ptr<RecorderModel>>();
  qRegisterMetaType<ConnectionReport>();
  qRegisterMetaType<ConnectionResult>();
  qRegisterMetaType<ReleaseFor>();
  qRegisterMetaType<FrameOperation>();
  setObjectName("mainFrame");
  setWindowTitle(kFrameTitle);
  setWindowIcon(AppIcon());
  outside_work_poll_ = new QTimer(this);
  outside_work_poll_->setInterval(kOutsideWorkPollMs);
  connect(outside_work_poll_, &QTimer::timeout, this, &CMainFrame::ContinueClosing);
  release_deadline_ = new QTimer(this);
  release_deadline_->setSingleShot(true);
  connect(release_deadline_, &QTimer::timeout, this, [this] {
    Trace("frame: Safely Remove did not end in time; ending anyway\n");
    FinishExit();
  });

  stall_probe_ = new QTimer(this);
  stall_probe_->setInterval(5);
  connect(stall_probe_, &QTimer::timeout, this, [this] {
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    stall_longest_ms_ = std::max(stall_longest_ms_, now - stall_last_ms_);
    stall_last_ms_ = now;
  });

  connect(&s_.events, &LinkEvents::connectionChanged, this, &CMainFrame::OnConnectionChanged,
          Qt::QueuedConnection);
  connect(&s_.events, &LinkEvents::connectionCompleted, this, &CMainFrame::OnConnectionCompleted,
          Qt::QueuedConnection);
  connect(&s_.events, &LinkEvents::recorderReleased, this, &CMainFrame::OnRecorderReleased,
          Qt::QueuedConnection);
  connect(&s_.events, &LinkEvents::operationEnded, this, &CMainFrame::OperationEnded, Qt::QueuedConnection);

  BuildMenus();
  // The player view comes later; until then the client area stays empty.
  auto* view = new QWidget(this);
  view->setObjectName("playerViewPlaceholder");
  setCentralWidget(view);
  UpdateCommandUI();
}

CMainFrame::~CMainFrame() {
  if (tray_ != nullptr) tray_->Remove();
  for (size_t i = 0; i < pages_.size(); ++i) {
    pages_[i]->removeEventFilter(this);
    if (auto* listener = dynamic_cast<ModelListener*>(pages_[i]); listener != nullptr && page_registers_[i])
      s_.model.RemoveListener(listener);
  }
}

bool CMainFrame::OnCreate() {
  tray_ = new CSystemTray(this, tray_menu_, kFrameTitle);
  connect(tray_, &CSystemTray::showRequested, this, &CMainFrame::ShowFromTray);
  tray_->Add();

  if (s_.watcher != nullptr) {
    RecorderLink* link = &s_.link;
    LinkEvents* events = &s_.events;
    const Status started = lyr::StartWatcher(*s_.watcher, [link, events](int connected, int status) {
      // On the watcher thread, right after its open attempt: the open error
      // is still the one of this attempt.
      ConnectionReport report;
      if (connected == 1) {
        report.kind = ConnectionReport::Kind::kLinked;
      } else if (status == kStatusOpenFailed) {
        report.kind = ConnectionReport::Kind::kOpenFailed;
        report.open_error = link->OpenError().code;
        report.open_context = QString::fromStdString(link->OpenError().context);
      }
      emit events->connectionChanged(report);
    });
    if (!started) return false;
  }

  status_dock_ = new QDockWidget("CURRENT STATUS", this);
  status_dock_->setObjectName("statusPanelDock");
  status_dock_->setAllowedAreas(Qt::AllDockWidgetAreas);
  status_dock_->setFeatures(QDockWidget::DockWidgetMovable | QDockWidget::DockWidgetFloatable);
  addDockWidget(Qt::TopDockWidgetArea, status_dock_);
  statusBar()->setObjectName("statusBar");
  HostPanelsAndPages(*this, s_);
  // The client is the player, or the empty state while no recorder is linked.
  client_stack_ = new QStackedWidget(this);
  client_stack_->setObjectName("clientStack");
  empty_state_ = new CEmptyState(client_stack_);
  client_stack_->addWidget(empty_state_);
  client_stack_->addWidget(takeCentralWidget());
  client_stack_->setCurrentIndex(1);
  setCentralWidget(client_stack_);
  UpdateCommandUI();
  return true;
}

void CMainFrame::ShowEmptyState(bool empty, const QString& text) {
  if (client_stack_ == nullptr) return;
  if (empty) empty_state_->SetHeadline(text);
  client_stack_->setCurrentIndex(empty ? 0 : 1);
  // Pages of a recorder that is not there take no input.
  for (QWidget* page : pages_) page->setEnabled(!empty);
}

// ---- menus and commands -------------------------------------------------

QAction* CMainFrame::AddCommand(QMenu* menu, const QString& text, const QString& name, CommandRule rule,
                                Slot slot) {
  auto* action = new QAction(text, this);
  action->setObjectName(name);
  if (menu != nullptr) menu->addAction(action);
  connect(action, &QAction::triggered, this, [this, action, name, slot] {
    // A shortcut or a menu opened before the state changed must not run a
    // command its rule forbids now.
    UpdateCommandUI();
    if (!action->isEnabled()) return;
    Trace("frame: command %s\n", name.toUtf8().constData());
    (this->*slot)();
  });
  if (rule != nullptr) rules_.emplace_back(action, rule);
  return action;
}

void CMainFrame::BuildMenus() {
  FrameActions& a = actions_;
  QMenu* file = menuBar()->addMenu("&File");
  a.update = AddCommand(file, "&Update", "fileUpdate", rule::Update, &CMainFrame::OnFileUpdate);
  a.setting = AddCommand(file, "Setting", "fileSetting", rule::Setting, &CMainFrame::OnSetting);
  file->addSeparator();
  a.safely_remove =
      AddCommand(file, "Safely Remove", "fileSafelyRemove", rule::SafelyRemove, &CMainFrame::OnSafelyRemove);
  a.connect = AddCommand(file, "Connect", "fileConnect", rule::Connect, &CMainFrame::OnConnect);
  file->addSeparator();
  a.exit = AddCommand(file, "E&xit", "appExit", nullptr, &CMainFrame::OnAppExit);

  QMenu* view = menuBar()->addMenu("&View");
  a.file_type = AddCommand(view, "File type", "viewFileType", rule::FileType, &CMainFrame::OnFileType);
  a.date_time = AddCommand(view, "Date && time", "viewDateTime", rule::DateTime, &CMainFrame::OnDateTime);
  a.copy_burn = AddCommand(view, "Copy / Burn", "viewCopyBurn", nullptr, &CMainFrame::OnCopyBurn);

  QMenu* tools = menuBar()->addMenu("&Tools");
  a.format = AddCommand(tools, "Format", "toolsFormat", rule::Format, &CMainFrame::OnFormat);
  a.machine_information = AddCommand(tools, "Machine information", "toolsMachineInformation",
                                     rule::RecorderUsable, &CMainFrame::OnMachineInformation);
  // Reset file counter has no menu item; its command is reached from the
  // keyboard only: Ctrl+Shift+F12.
  a.reset_file_counter = AddCommand(nullptr, "Reset file counter", "resetFileCounter", rule::RecorderUsable,
                                    &CMainFrame::OnResetFileCounter);
  a.reset_file_counter->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_F12));
  addAction(a.reset_file_counter);

  // The fourth menu: "Close all", a separator, then the shown pages, the
  // most recently used first.
  window_menu_ = menuBar()->addMenu("&Window");
  window_menu_->setObjectName("windowMenu");
  a.close_all =
      AddCommand(window_menu_, "Close all", "windowCloseAll", rule::CloseAll, &CMainFrame::OnCloseAll);
  window_menu_->addSeparator();

  QMenu* help = menuBar()->addMenu("&Help");
  a.about = AddCommand(help, "About", "appAbout", nullptr, &CMainFrame::OnAppAbout);

  tray_menu_ = new QMenu(this);
  tray_menu_->setObjectName("trayMenu");
  a.maximize = AddCommand(tray_menu_, "Maximize", "trayMaximize", nullptr, &CMainFrame::OnMaximize);
  tray_menu_->setDefaultAction(a.maximize);
  a.tray_safely_remove = AddCommand(tray_menu_, "Safely Remove", "traySafelyRemove", rule::SafelyRemove,
                                    &CMainFrame::OnSafelyRemove);
  a.tray_about = AddCommand(tray_menu_, "About", "trayAbout", nullptr, &CMainFrame::OnAppAbout);
  tray_menu_->addSeparator();
  a.tray_exit = AddCommand(tray_menu_, "Exit", "trayExit", nullptr, &CMainFrame::OnTrayExit);

  // Menus are brought up to date when they open, as the idle update would.
  for (QMenu* menu : {file, view, tools, window_menu_, help, tray_menu_})
    connect(menu, &QMenu::aboutToShow, this, &CMainFrame::UpdateCommandUI);
}

CommandState CMainFrame::CurrentCommandState() const {
  CommandState state;
  state.connected = s_.link.IsDriveOpen();
  state.open = s_.link.IsAccessGranted();
  state.refused = s_.link.IsRecorderRefused();
  state.released = s_.watcher != nullptr && s_.watcher->IsReleased();
  state.admin = s_.app.admin;
  state.mask = s_.app.command_rights;
  state.window_menu_items = static_cast<int>(window_menu_->actions().size());
  return state;
}

void CMainFrame::UpdateCommandUI() {
  const CommandState state = CurrentCommandState();
  for (const auto& [action, rule] : rules_) action->setEnabled(rule(state));
}

void CMainFrame::OnSafelyRemove() { SafelyRemove(ReleaseFor::kSafelyRemove); }

void CMainFrame::OnConnect() {
  // The watcher links it at its next scan and reports as for a plug-in.
  if (s_.watcher != nullptr) s_.watcher->Reconnect();
}

void CMainFrame::OnAppExit() {
  // Where there is no tray, its Exit does not exist either: the File menu's
  // Exit ends the program, the close box minimises.
  if (!CSystemTray::Available()) {
    RequestExit();
  } else {
    close();
  }
}

void CMainFrame::OnFileType() { ShowPageFor(actions_.file_type); }
void CMainFrame::OnDateTime() { ShowPageFor(actions_.date_time); }
void CMainFrame::OnMachineInformation() { ShowPageFor(actions_.machine_information); }

void CMainFrame::OnCopyBurn() {
  if (copy_burn_panel_ == nullptr) return;
  copy_burn_panel_->show();
  copy_burn_panel_->raise();
  copy_burn_panel_->activateWindow();
}

void CMainFrame::OnCloseAll() { CloseAllPages(); }

void CMainFrame::OnMaximize() {
  if (hidden_in_tray_) RestoreFromTray();
}

void CMainFrame::OnTrayExit() { RequestExit(); }

void CMainFrame::OnAppAbout() {
  auto* box = new CAboutBox(this);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->open();
}

void CMainFrame::OnSetting() {
  if (!make_setting_ || setting_dialog_ != nullptr) return;
  OperationStarted(FrameOperation::kSettingDialog);
  QDialog* dialog = make_setting_(this);
  setting_dialog_ = dialog;
  dialog->exec();
  delete dialog;
  OperationEnded(FrameOperation::kSettingDialog);
}

// ---- maintenance -------------------------------------------------------------

void CMainFrame::OnFileUpdate() {
  if (update_runner_ != nullptr && update_runner_->Running()) return;
  // Closing waits for the file dialog and the whole update.
  OperationStarted(FrameOperation::kFirmwareUpdate);
  const QString path = CFirmwareUpdateRunner::ChooseFile(this);
  if (path.isEmpty() || closing_) {
    OperationEnded(FrameOperation::kFirmwareUpdate);
    return;
  }
  if (update_runner_ == nullptr) {
    update_runner_ = new CFirmwareUpdateRunner(s_.link, this);
    connect(update_runner_, &CFirmwareUpdateRunner::finished, this, &CMainFrame::OnUpdateFinished);
  }
  update_runner_->Start(path, s_.model.FirmwareVersion());
}

void CMainFrame::OnUpdateFinished(FirmwareUpdateOutcome outcome) {
  OperationEnded(FrameOperation::kFirmwareUpdate);
  if (outcome != FirmwareUpdateOutcome::kUpdated) {
    UpdateCommandUI();
    return;
  }
  // The recorder was released; the user restarts everything.
  s_.model.NotifyListeners(nullptr);
  RequestExit();
}

void CMainFrame::OnFormat() {
  CloseAllPages();
  const QString line = QString::fromStdString(MemoryStatusLine(s_.model.Memory()));
  OperationStarted(FrameOperation::kFormat);
  const ConfirmAnswer answer = RunConfirmation(this, kFormatTitle, kFormatPrompt, line);
  // The format and the refresh run on the worker, on a copy of the records
  // that comes back as a connection sequence's would.
  auto records = std::make_shared<RecorderModel>();
  records->AdoptRecords(s_.model);
  RecorderLink* link = &s_.link;
  LinkEvents* events = &s_.events;
  const quint64 generation = generation_;
  s_.worker.Post([link, events, records, generation, answer] {
    bool refreshed = true;
    if (answer == ConfirmAnswer::kYes) {
      // A failed format leaves the records as they were: no refresh.
      refreshed = OnFormatRequest(*link, *records) == MaintenanceOutcome::kDone;
    } else {
      records->Refresh(*link);
      // The hidden keys cancelled the dialog and ask for the format itself.
      if (answer == ConfirmAnswer::kHiddenFormat) OnFormatRequest(*link, *records);
    }
    if (refreshed) emit events->connectionCompleted(generation, ConnectionResult::kReady, records);
    emit events->operationEnded(FrameOperation::kFormat);
  });
}

void CMainFrame::OnResetFileCounter() {
  // The highest index is read on the worker, the question is asked here,
  // and the reset is sent from the worker again: this thread never waits
  // for the recorder.
  OperationStarted(FrameOperation::kResetFileCounter);
  RecorderLink* link = &s_.link;
  const quint64 generation = generation_;
  QPointer<CMainFrame> self(this);
  s_.worker.Post([link, self, generation] {
    const Result<uint32_t> highest = LinkCommands(*link).GetHighestIndex();
    const bool read = highest.ok();
    const uint32_t index = highest.value_or(0);
    QMetaObject::invokeMethod(
        qApp,
        [self, generation, read, index] {
          if (self.isNull()) return;
          if (!read || generation != self->generation_ || self->closing_) {
            self->OperationEnded(FrameOperation::kResetFileCounter);
            return;
          }
          self->ConfirmResetFileCounter(index);
        },
        Qt::QueuedConnection);
  });
}

void CMainFrame::ConfirmResetFileCounter(uint32_t highest_index) {
  const ConfirmAnswer answer =
      RunConfirmation(this, kResetCounterTitle, kResetCounterPrompt,
                      QString::fromStdString(HighestIndexLine(s_.model.Settings(), highest_index)));
  if (answer != ConfirmAnswer::kYes || closing_) {
    OperationEnded(FrameOperation::kResetFileCounter);
    return;
  }
  RecorderLink* link = &s_.link;
  LinkEvents* events = &s_.events;
  s_.worker.Post([link, events] {
    if (!LinkCommands(*link).ResetFileCounter()) Trace("frame: the file counter was not reset\n");
    emit events->operationEnded(FrameOperation::kResetFileCounter);
  });
}

// ---- pages and the Window menu -------------------------------------------

int CMainFrame::AddPage(QWidget* page, QAction* command, bool register_listener) {
  const size_t index = pages_.size();
  pages_.push_back(page);
  page_registers_.push_back(register_listener);
  if (command != nullptr) page_of_command_[command] = index;
  page->installEventFilter(this);
  return static_cast<int>(index);
}

void CMainFrame::SetStatusPanel(QWidget* panel) {
  status_panel_ = panel;
  status_dock_->setWidget(panel);
}

int CMainFrame::PageIndex(const QWidget* page) const {
  const auto it = std::find(pages_.begin(), pages_.end(), page);
  return it == pages_.end() ? -1 : static_cast<int>(it - pages_.begin());
}

void CMainFrame::ShowPageFor(QAction* command) {
  const auto it = page_of_command_.find(command);
  if (it != page_of_command_.end()) ShowPage(it->second);
}

void CMainFrame::ShowPage(size_t index) {
  if (index >= pages_.size()) return;
  QWidget* page = pages_[index];
  page->show();
  page->raise();
  page->activateWindow();
  // Activation may not come where the window system does not give focus.
  OnPageShown(page);
}

void CMainFrame::CloseAllPages() {
  // The Copy/Burn panel is no page of the list and stays.
  for (QWidget* page : pages_) page->hide();
}

void CMainFrame::OnPageShown(QWidget* page) {
  const int index = PageIndex(page);
  if (index < 0) return;
  const auto known = page_entries_.find(static_cast<size_t>(index));
  QAction* entry = known == page_entries_.end() ? nullptr : known->second;
  if (entry == nullptr) {
    entry = new QAction(this);
    entry->setData(index);
    entry->setObjectName(QString("windowPage%1").arg(index));
    connect(entry, &QAction::triggered, this, [this, index] { ShowPage(static_cast<size_t>(index)); });
    page_entries_[static_cast<size_t>(index)] = entry;
  }
  entry->setText(MenuText(page->windowTitle()));
  // The most recently used page goes to the top of the list, below "Close
  // all" and its separator.
  window_menu_->removeAction(entry);
  const QList<QAction*> items = window_menu_->actions();
  window_menu_->insertAction(items.size() > 2 ? items[2] : nullptr, entry);
  if (auto* listener = dynamic_cast<ModelListener*>(page); listener != nullptr && page_registers_[index]) {
    const auto& listed = s_.model.Listeners();
    if (std::find(listed.begin(), listed.end(), listener) == listed.end()) s_.model.AddListener(listener);
  }
  UpdateCommandUI();
}

void CMainFrame::OnPageHidden(QWidget* page) {
  const int index = PageIndex(page);
  if (index < 0) return;
  const auto known = page_entries_.find(static_cast<size_t>(index));
  if (known != page_entries_.end()) window_menu_->removeAction(known->second);
  if (auto* listener = dynamic_cast<ModelListener*>(page); listener != nullptr && page_registers_[index])
    s_.model.RemoveListener(listener);
  UpdateCommandUI();
}

bool CMainFrame::eventFilter(QObject* watched, QEvent* event) {
  if (auto* page = qobject_cast<QWidget*>(watched); page != nullptr && PageIndex(page) >= 0) {
    switch (event->type()) {
      case QEvent::Show:
        // A page the window system minimised or restored keeps its place.
        if (!event->spontaneous()) OnPageShown(page);
        break;
      case QEvent::WindowActivate:
        OnPageShown(page);
        break;
      case QEvent::Hide:
        if (!event->spontaneous()) OnPageHidden(page);
        break;
      case QEvent::WindowTitleChange: {
        const auto known = page_entries_.find(static_cast<size_t>(PageIndex(page)));
        if (known != page_entries_.end()) known->second->setText(MenuText(page->windowTitle()));
        break;
      }
      default:
        break;
    }
  }
  return QMainWindow::eventFilter(watched, event);
}

// ---- connection ------------------------------------------------------------

QString CMainFrame::ConnectionText() const { return pane_ == nullptr ? QString() : pane_->text(); }

void CMainFrame::SetConnectionText(const QString& text) {
  if (pane_ == nullptr) {
    pane_ = new QLabel(this);
    pane_->setObjectName("connectionPane");
    statusBar()->addWidget(pane_, 1);
  }
  pane_->setText(text);
  Trace("frame: pane \"%s\"\n", text.toUtf8().constData());
  emit connectionTextChanged(text);
}

void CMainFrame::RefreshAdministrator() {
  s_.app.admin = IsAdministrator(s_.watcher != nullptr ? s_.watcher->CurrentNode() : std::string());
}

void CMainFrame::OnConnectionChanged(const ConnectionReport& report) {
  using Kind = ConnectionReport::Kind;
  Trace("frame: connection changed: %s\n", report.kind == Kind::kLinked ? "linked"
                                           : report.kind == Kind::kGone ? "gone"
                                                                        : "the drive did not open");
  if (closing_) {
    // Handled when the closing sequence ends, so that the frame follows the
    // recorder even when it was plugged in while the frame was closing.
    pending_report_ = report;
    return;
  }
  RefreshAdministrator();
  ++generation_;
  if (report.kind == Kind::kLinked) {
    StartConnection();
    return;
  }
  if (report.kind == Kind::kOpenFailed) ShowAccessError(report.open_error, report.open_context);
  RecorderGone();
  ShowEmptyState(true, kNoRecorderText);
}

void CMainFrame::ShowAccessError(quint32 open_error, const QString& open_context) {
  // A drive another program holds is no matter of rights: say which it is.
  QString text = kAccessErrorText;
#ifndef _WIN32
  if (!open_context.isEmpty()) text += " (" + open_context + ")";
#endif
  if (open_error == kErrorSharingViolation) {
    text = kInUseText;
    if (!open_context.isEmpty()) text += " (" + open_context + ")";
  }
  auto* box = new QMessageBox(QMessageBox::Critical, "Error", text, QMessageBox::Ok, this);
  box->setObjectName("accessErrorBox");
  box->setAttribute(Qt::WA_DeleteOnClose);
  access_error_box_ = box;
  box->open();
  Trace("frame: access error \"%s\"\n", text.toUtf8().constData());
}

void CMainFrame::RecorderGone() {
  // Before the listeners hear of it: the player still tells that it played.
  const bool interrupted = recorder_left_ && recorder_left_();
  CloseAllPages();
  s_.model.NotifyListeners(nullptr);
  SetConnectionText(kNoRecorderText);
  UpdateCommandUI();
  if (interrupted) return;
  // Before any recorder was linked (a start without one) the window stays,
  // with its empty state: a user who sees nothing thinks it did not start.
  if (isVisible() && !hidden_in_tray_ && linked_once_) {
    // The access error box stays open: it is no dialog the recorder's
    // removal makes pointless, and the user has not read it yet.
    if (access_error_box_ != nullptr && access_error_box_->isVisible()) {
      connect(access_error_box_, &QDialog::finished, this, [this] {
        if (!s_.link.IsDriveOpen() && isVisible() && !hidden_in_tray_) StartClosing();
      });
      return;
    }
    StartClosing();
  }
}

void CMainFrame::StartConnection() {
  // The model is emptied here, on the GUI thread; the sequence reads into a
  // model of its own on the worker and hands it over when it ends.
  s_.model.Reset();
  if (TraceEnabled()) {
    stall_last_ms_ = QDateTime::currentMSecsSinceEpoch();
    stall_longest_ms_ = 0;
    stall_probe_->start();
  }
  const quint64 generation = generation_;
  RecorderLink* link = &s_.link;
  LinkEvents* events = &s_.events;
  s_.worker.Post([link, events, generation] {
    auto records = std::make_shared<RecorderModel>();
    const ConnectionResult result = CompleteConnection(*link, *records);
    emit events->connectionCompleted(generation, result, records);
  });
}

void CMainFrame::OnConnectionCompleted(quint64 generation, ConnectionResult result,
                                       const std::shared_ptr<RecorderModel>& records) {
  Trace("frame: connection sequence ended with %d\n", static_cast<int>(result));
  if (stall_probe_->isActive()) {
    stall_probe_->stop();
    Trace("frame: longest event-loop stall while connecting: %lld ms\n",
          static_cast<long long>(stall_longest_ms_));
  }
  if (generation != generation_ || closing_) return;  // the recorder went meanwhile
  if (result != ConnectionResult::kReady) {
    UpdateCommandUI();
    return;
  }
  s_.model.AdoptRecords(*records);
  linked_once_ = true;
  ShowEmptyState(false);
  if (hidden_in_tray_) RestoreFromTray();
  s_.model.NotifyListeners(nullptr);
  SetConnectionText(kConnectedText);
  UpdateCommandUI();
}

void CMainFrame::SafelyRemove(ReleaseFor reason) {
  RecorderLink* link = &s_.link;
  LinkEvents* events = &s_.events;
  // An exit does not wait for it longer than kReleaseWaitMs (release_deadline_).
  RecorderWatcher* watcher = reason == ReleaseFor::kSafelyRemove ? s_.watcher : nullptr;
  s_.worker.Post([link, events, reason, watcher] {
    const bool released = static_cast<bool>(LinkCommands(*link).ReleaseRecorder(true));
    // The drive is closed and unlocked too: other programs may use the
    // recorder, and it may be unplugged.
    if (watcher != nullptr) watcher->ReleaseDrive();
    emit events->recorderReleased(released, reason);
  });
}

void CMainFrame::OnRecorderReleased(bool released, ReleaseFor reason) {
  Trace("frame: recorder released %d\n", released ? 1 : 0);
  if (released) s_.model.NotifyListeners(nullptr);
  if (reason == ReleaseFor::kSafelyRemove && !s_.link.IsDriveOpen()) {
    SetConnectionText(kReleasedText);
    ShowEmptyState(true, kReleasedText);
  }
  UpdateCommandUI();
  if (reason == ReleaseFor::kExit) FinishExit();
}

// ---- tray and closing --------------------------------------------------------

void CMainFrame::HideInTray() {
  if (tray_ != nullptr && CSystemTray::Available()) {
    if (!tray_->IsShown()) tray_->Add();
    hide();
    hidden_in_tray_ = true;
    Trace("frame: hidden in the tray\n");
  } else {
    // No notification area: a hidden window could not be found again. The
    // minimised frame counts as put away: a recorder plugged in brings it
    // back as it would from the tray.
    showMinimized();
    hidden_in_tray_ = true;
    Trace("frame: minimised (no tray)\n");
  }
}

void CMainFrame::RestoreFromTray() {
  hidden_in_tray_ = false;
  showMaximized();
  raise();
  activateWindow();
}

void CMainFrame::ShowFromTray() {
  if (hidden_in_tray_) {
    RestoreFromTray();
    return;
  }
  if (isMinimized()) showNormal();
  raise();
  activateWindow();
}

void CMainFrame::RaiseFromSecondStart() {
  Trace("frame: raised by a second start\n");
  hidden_in_tray_ = false;
  showNormal();
  raise();
  activateWindow();
}

void CMainFrame::RequestExit() {
  exit_requested_ = true;
  if (!closing_) StartClosing();
}

void CMainFrame::closeEvent(QCloseEvent* event) {
  if (final_close_) {
    event->accept();
    return;
  }
  event->ignore();
  StartClosing();
}

void CMainFrame::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  if (!shown_once_) {
    shown_once_ = true;
    Trace("frame: window shown\n");
  }
}

void CMainFrame::OperationStarted(FrameOperation operation) { running_.insert(operation); }

void CMainFrame::OperationEnded(FrameOperation operation) {
  running_.erase(operation);
  // Queued: the command that ended its operation finishes first (an update
  // that succeeded asks for the exit itself).
  QMetaObject::invokeMethod(this, &CMainFrame::ContinueClosing, Qt::QueuedConnection);
}

bool CMainFrame::OutsideWorkBusy() const {
  return (pages_busy_ && pages_busy_()) || (panel_busy_ && panel_busy_());
}

void CMainFrame::StartClosing() {
  if (closing_) return;
  closing_ = true;
  Trace("frame: closing%s\n", exit_requested_ ? " to exit" : "");
  // What may wait on the user ends: the frame's own boxes, then the other
  // windows' dialogs.
  if (access_error_box_ != nullptr && access_error_box_->isVisible()) access_error_box_->close();
  // The other windows' message boxes and file dialogs (a job's question
  // closed this way is answered "No"); their own windows stay until
  // their jobs end.
  for (QWidget* w : QApplication::topLevelWidgets()) {
    if (w == this || !w->isVisible()) continue;
    if (qobject_cast<QMessageBox*>(w) != nullptr || qobject_cast<QFileDialog*>(w) != nullptr) w->close();
  }
  // The SETTING dialog ends, its folder browser first; its command then
  // ends its operation.
  if (setting_dialog_ != nullptr && end_setting_) end_setting_(setting_dialog_);
  // An open FORMAT or RESET FILE COUNTER confirmation is cancelled.
  for (QDialog* confirm : findChildren<QDialog*>("confirm_dialog"))
    if (confirm->isVisible()) confirm->reject();
  CloseAllPages();
  // The Copy/Burn panel: its job is cancelled and ends by itself; closing
  // waits for it below.
  if (stop_panel_) stop_panel_();
  if (copy_burn_panel_ != nullptr) copy_burn_panel_->hide();
  ContinueClosing();
  if (closing_ && exit_requested_) statusBar()->showMessage("Waiting for the running operation to finish");
}

void CMainFrame::ContinueClosing() {
  if (!closing_ || !running_.empty()) return;
  if (OutsideWorkBusy()) {
    if (!outside_work_poll_->isActive()) outside_work_poll_->start();
    return;
  }
  outside_work_poll_->stop();
  OnCloseStep2();
}

void CMainFrame::OnCloseStep2() {
  closing_ = false;
  statusBar()->clearMessage();
  if (!exit_requested_) {
    HideInTray();
    if (pending_report_) {
      const ConnectionReport report = *pending_report_;
      pending_report_.reset();
      OnConnectionChanged(report);
    }
    return;
  }
  if (s_.link.IsDriveOpen()) {
    release_deadline_->start(kReleaseWaitMs);
    SafelyRemove(ReleaseFor::kExit);
    return;
  }
  FinishExit();
}

void CMainFrame::FinishExit() {
  if (exit_announced_) return;
  exit_announced_ = true;
  release_deadline_->stop();
  final_close_ = true;
  Trace("frame: exit\n");
  close();
  emit exitReady();
}

}  // namespace lyr
