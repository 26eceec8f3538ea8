#include "app/ui/frame/main_frame.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDateTime>
#include <QDialog>
#include <QDockWidget>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPointer>
#include <QStatusBar>
#include <QTimer>
#include <algorithm>

#include "app/about_box.h"
#include "app/app_icon.h"
#include "app/ui/frame/frame_hosting.h"
#include "app/ui/frame/system_tray.h"
#include "link/recorder_link.h"
#include "link/recorder_watcher.h"
#include "maintenance/memory_maintenance.h"
#include "maintenance/ui/maintenance_dialogs.h"
#include "platform/last_error.h"
#include "platform/trace.h"
#include "gui/common/task_queue.h"
#include "settings/recorder_model.h"

namespace lyr {
namespace {

constexpr char kFrameTitle[] = "TORVI LYR";
constexpr char kAccessErrorText[] = "Access LYR error, Please run with Administrator authority";
constexpr char kInUseText[] =
    "The LYR is in use by another program, Please close it and plug the LYR in again";
// Windows the closing sequence closes by their exact title.
constexpr const char* kClosedTitles[] = {"Open",  "Save As", "Open Update File",
                                         "Error", "Warning", "success"};
constexpr int kGatePollMs = 50;

// A page title as a menu text: "&" shows as itself, not as a mnemonic.
QString MenuText(QString title) { return title.replace('&', "&&"); }

}  // namespace

CMainFrame::CMainFrame(FrameServices services, QWidget* parent) : QMainWindow(parent), s_(services) {
  qRegisterMetaType<std::shared_ptr<RecorderModel>>();
  setObjectName("mainFrame");
  setWindowTitle(kFrameTitle);
  setWindowIcon(AppIcon());
  for (Event& gate : gates_) gate.Set();
  gate_timer_ = new QTimer(this);
  gate_timer_->setInterval(kGatePollMs);
  connect(gate_timer_, &QTimer::timeout, this, &CMainFrame::PollGates);
  release_timer_ = new QTimer(this);
  release_timer_->setSingleShot(true);
  connect(release_timer_, &QTimer::timeout, this, [this] {
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
  tray_->Add();

  if (s_.watcher != nullptr) {
    RecorderLink* link = &s_.link;
    LinkEvents* events = &s_.events;
    const int started = s_.watcher->StartWatcher([link, events](int connected, int status) {
      // On the watcher thread, right after its open attempt: the open error
      // is still the one of this attempt.
      quint32 code = 0;
      QString context;
      if (connected == 0 && status == kStatusOpenFailed) {
        code = link->OpenError().code;
        context = QString::fromStdString(link->OpenError().context);
      }
      emit events->connectionChanged(connected, status, code, context);
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
  UpdateCommandUI();
  return true;
}

// ---- menus and commands -------------------------------------------------

QAction* CMainFrame::AddCommand(QMenu* menu, const QString& text, int id, std::map<int, QAction*>& table) {
  QAction* action = menu->addAction(text);
  action->setData(id);
  action->setObjectName(QString("command%1").arg(id));
  connect(action, &QAction::triggered, this, [this, id] { RunCommand(id); });
  table[id] = action;
  return action;
}

void CMainFrame::BuildMenus() {
  QMenu* file = menuBar()->addMenu("&File");
  AddCommand(file, "&Update", cmd::kUpdate, actions_);
  AddCommand(file, "Setting", cmd::kSetting, actions_);
  file->addSeparator();
  AddCommand(file, "Safely Remove", cmd::kSafelyRemove, actions_);
  file->addSeparator();
  AddCommand(file, "E&xit", cmd::kExit, actions_);

  QMenu* view = menuBar()->addMenu("&View");
  AddCommand(view, "File type", cmd::kFileType, actions_);
  AddCommand(view, "Date && time", cmd::kDateTime, actions_);
  AddCommand(view, "Copy / Burn", cmd::kCopyBurn, actions_);

  QMenu* tools = menuBar()->addMenu("&Tools");
  AddCommand(tools, "Format", cmd::kFormat, actions_);
  AddCommand(tools, "Machine information", cmd::kMachineInformation, actions_);
  // Reset file counter has no menu item; its command is reached from Format.
  auto* reset = new QAction("Reset file counter", this);
  reset->setData(cmd::kResetFileCounter);
  reset->setObjectName(QString("command%1").arg(cmd::kResetFileCounter));
  connect(reset, &QAction::triggered, this, [this] { RunCommand(cmd::kResetFileCounter); });
  actions_[cmd::kResetFileCounter] = reset;
  // Reached from the keyboard only: Ctrl+Shift+F12.
  reset->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_F12));
  addAction(reset);

  // The fourth menu: "Close all", a separator, then the shown pages, the
  // most recently used first.
  window_menu_ = menuBar()->addMenu("&Window");
  window_menu_->setObjectName("windowMenu");
  AddCommand(window_menu_, "Close all", cmd::kCloseAll, actions_);
  window_menu_->addSeparator();

  QMenu* help = menuBar()->addMenu("&Help");
  AddCommand(help, "About", cmd::kAbout, actions_);

  tray_menu_ = new QMenu(this);
  tray_menu_->setObjectName("trayMenu");
  QAction* maximize = AddCommand(tray_menu_, "Maximize", cmd::kMaximize, tray_actions_);
  tray_menu_->setDefaultAction(maximize);
  AddCommand(tray_menu_, "Safely Remove", cmd::kSafelyRemove, tray_actions_);
  AddCommand(tray_menu_, "About", cmd::kAbout, tray_actions_);
  tray_menu_->addSeparator();
  AddCommand(tray_menu_, "Exit", cmd::kTrayExit, tray_actions_);

  // Menus are brought up to date when they open, as the idle update would.
  for (QMenu* menu : {file, view, tools, window_menu_, help, tray_menu_})
    connect(menu, &QMenu::aboutToShow, this, &CMainFrame::UpdateCommandUI);
}

QAction* CMainFrame::Action(int id) const {
  const auto it = actions_.find(id);
  return it == actions_.end() ? nullptr : it->second;
}

QAction* CMainFrame::TrayAction(int id) const {
  const auto it = tray_actions_.find(id);
  return it == tray_actions_.end() ? nullptr : it->second;
}

CommandState CMainFrame::CurrentCommandState() const {
  CommandState state;
  state.connected = s_.link.IsDriveOpen();
  state.open = s_.link.IsAccessGranted();
  state.refused = s_.link.IsRecorderRefused();
  state.admin = s_.app.admin;
  state.mask = s_.app.command_rights;
  state.window_menu_items = static_cast<int>(window_menu_->actions().size());
  return state;
}

void CMainFrame::UpdateCommandUI() {
  const CommandState state = CurrentCommandState();
  for (auto* table : {&actions_, &tray_actions_})
    for (auto& [id, action] : *table) action->setEnabled(IsCommandEnabled(id, state));
}

void CMainFrame::RunCommand(int id) {
  // A shortcut or a menu opened before the state changed must not run a
  // command its rule forbids now.
  UpdateCommandUI();
  if (!IsCommandEnabled(id, CurrentCommandState())) return;
  Trace("frame: command %d\n", id);
  switch (id) {
    case cmd::kSafelyRemove:
      SafelyRemove(false);
      break;
    case cmd::kSetting:
      RunSettingDialog();
      break;
    case cmd::kExit:
      // Where there is no tray, its Exit does not exist either: the File
      // menu's Exit ends the program, the close box minimises.
      if (!CSystemTray::Available()) {
        RequestExit();
      } else {
        close();
      }
      break;
    case cmd::kFileType:
    case cmd::kDateTime:
    case cmd::kMachineInformation:
      ShowPageForCommand(id);
      break;
    case cmd::kCopyBurn:
      if (copy_burn_panel_ != nullptr) {
        copy_burn_panel_->show();
        copy_burn_panel_->raise();
        copy_burn_panel_->activateWindow();
      }
      break;
    case cmd::kCloseAll:
      CloseAllPages();
      break;
    case cmd::kAbout:
      ShowAbout();
      break;
    case cmd::kMaximize:
      if (hidden_in_tray_) RestoreFromTray();
      break;
    case cmd::kTrayExit:
      RequestExit();
      break;
    case cmd::kUpdate:
      RunUpdate();
      break;
    case cmd::kFormat:
      RunFormat();
      break;
    case cmd::kResetFileCounter:
      RunResetFileCounter();
      break;
    default:
      break;
  }
}

void CMainFrame::ShowAbout() {
  auto* box = new CAboutBox(this);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->open();
}

void CMainFrame::RunSettingDialog() {
  if (!make_setting_ || setting_dialog_ != nullptr) return;
  Event& gate = gates_[4];
  gate.ResetEvent();
  QDialog* dialog = make_setting_(this);
  setting_dialog_ = dialog;
  dialog->exec();
  delete dialog;
  gate.Set();
}

// ---- maintenance -------------------------------------------------------------

void CMainFrame::RunUpdate() {
  if (update_runner_ != nullptr && update_runner_->Running()) return;
  // Gates 1 and 2: closing waits for the file dialog and the whole update.
  gates_[1].ResetEvent();
  gates_[2].ResetEvent();
  const QString path = CFirmwareUpdateRunner::ChooseFile(this);
  if (path.isEmpty() || closing_) {
    gates_[1].Set();
    gates_[2].Set();
    return;
  }
  if (update_runner_ == nullptr) {
    update_runner_ = new CFirmwareUpdateRunner(s_.link, this);
    connect(update_runner_, &CFirmwareUpdateRunner::finished, this, &CMainFrame::OnUpdateFinished);
  }
  update_runner_->Start(path, s_.model.FirmwareVersion());
}

void CMainFrame::OnUpdateFinished(int outcome) {
  gates_[1].Set();
  gates_[2].Set();
  if (static_cast<FirmwareUpdateOutcome>(outcome) != FirmwareUpdateOutcome::kUpdated) {
    UpdateCommandUI();
    return;
  }
  // The recorder was released; the user restarts everything.
  s_.model.NotifyListeners(nullptr);
  RequestExit();
}

void CMainFrame::RunFormat() {
  CloseAllPages();
  const QString line = QString::fromStdString(MemoryStatusLine(s_.model.Memory()));
  Event& gate = gates_[3];
  gate.ResetEvent();
  const ConfirmAnswer answer = RunConfirmation(this, kFormatTitle, kFormatPrompt, line);
  // The format and the refresh run on the worker, on a copy of the records
  // that comes back as a connection sequence's would.
  auto records = std::make_shared<RecorderModel>();
  records->AdoptRecords(s_.model);
  RecorderLink* link = &s_.link;
  LinkEvents* events = &s_.events;
  const quint64 generation = generation_;
  s_.worker.Post([link, events, records, generation, answer, &gate] {
    bool refreshed = true;
    if (answer == ConfirmAnswer::kYes) {
      // A failed format leaves the records as they were: no refresh.
      refreshed = OnFormatRequest(*link, *records) == MaintenanceOutcome::kDone;
    } else {
      records->Refresh(*link);
      // The hidden keys cancelled the dialog and ask for the format itself.
      if (answer == ConfirmAnswer::kHiddenFormat) OnFormatRequest(*link, *records);
    }
    if (refreshed)
      emit events->connectionCompleted(generation, static_cast<int>(ConnectionResult::kReady), records);
    gate.Set();
  });
}

void CMainFrame::RunResetFileCounter() {
  // The highest index is read on the worker, the question is asked here,
  // and the reset is sent from the worker again: this thread never waits
  // for the recorder.
  Event& gate = gates_[3];
  gate.ResetEvent();
  RecorderLink* link = &s_.link;
  const quint64 generation = generation_;
  QPointer<CMainFrame> self(this);
  s_.worker.Post([link, self, generation, &gate] {
    uint32_t index = 0;
    const bool read = link->GetHighestIndex(index) != 0;
    QMetaObject::invokeMethod(
        qApp,
        [self, generation, read, index, &gate] {
          if (self.isNull() || !read || generation != self->generation_ || self->closing_) {
            gate.Set();
            return;
          }
          self->ConfirmResetFileCounter(index);
        },
        Qt::QueuedConnection);
  });
}

void CMainFrame::ConfirmResetFileCounter(uint32_t highest_index) {
  Event& gate = gates_[3];
  const ConfirmAnswer answer =
      RunConfirmation(this, kResetCounterTitle, kResetCounterPrompt,
                      QString::fromStdString(HighestIndexLine(s_.model.Settings(), highest_index)));
  if (answer != ConfirmAnswer::kYes || closing_) {
    gate.Set();
    return;
  }
  RecorderLink* link = &s_.link;
  s_.worker.Post([link, &gate] {
    if (link->ResetFileCounter() == 0) Trace("frame: the file counter was not reset\n");
    gate.Set();
  });
}

// ---- pages and the Window menu -------------------------------------------

int CMainFrame::AddPage(QWidget* page, int command_id, bool register_listener) {
  const size_t index = pages_.size();
  pages_.push_back(page);
  page_registers_.push_back(register_listener);
  if (command_id != 0) page_of_command_[command_id] = index;
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

void CMainFrame::ShowPageForCommand(int id) {
  const auto it = page_of_command_.find(id);
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
  if (index < 0 || index > cmd::kLastPage - cmd::kFirstPage) return;
  const auto known = page_entries_.find(static_cast<size_t>(index));
  QAction* entry = known == page_entries_.end() ? nullptr : known->second;
  if (entry == nullptr) {
    const int id = cmd::kFirstPage + index;
    entry = new QAction(this);
    entry->setData(id);
    entry->setObjectName(QString("command%1").arg(id));
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

void CMainFrame::OnConnectionChanged(int connected, int status, quint32 open_error,
                                     const QString& open_context) {
  Trace("frame: connection changed %d %d\n", connected, status);
  if (closing_) {
    // Handled when the closing sequence ends, so that the frame follows the
    // recorder even when it was plugged in while the frame was closing.
    pending_report_ = PendingReport{connected, status, open_error, open_context};
    return;
  }
  RefreshAdministrator();
  ++generation_;
  if (connected == 1) {
    StartConnection();
    return;
  }
  if (status == kStatusOpenFailed) ShowAccessError(open_error, open_context);
  RecorderGone();
}

void CMainFrame::ShowAccessError(quint32 open_error, const QString& open_context) {
  // A drive another program holds is no matter of rights: say which it is.
  QString text = kAccessErrorText;
  if (open_error == kErrorSharingViolation) {
    text = kInUseText;
    if (!open_context.isEmpty()) text += " (" + open_context + ")";
  }
  auto* box = new QMessageBox(QMessageBox::Critical, "Error", text, QMessageBox::Ok, this);
  box->setObjectName("accessErrorBox");
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->open();
  Trace("frame: access error \"%s\"\n", text.toUtf8().constData());
}

void CMainFrame::RecorderGone() {
  CloseAllPages();
  s_.model.NotifyListeners(nullptr);
  SetConnectionText(kNoRecorderText);
  UpdateCommandUI();
  if (isVisible() && !hidden_in_tray_) {
    // The access error box stays open: it is no dialog the recorder's
    // removal makes pointless, and the user has not read it yet.
    if (QWidget* box = findChild<QMessageBox*>("accessErrorBox"); box != nullptr && box->isVisible()) {
      connect(static_cast<QMessageBox*>(box), &QDialog::finished, this, [this] {
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
    emit events->connectionCompleted(generation, static_cast<int>(result), records);
  });
}

void CMainFrame::OnConnectionCompleted(quint64 generation, int result,
                                       const std::shared_ptr<RecorderModel>& records) {
  Trace("frame: connection sequence ended with %d\n", result);
  if (stall_probe_->isActive()) {
    stall_probe_->stop();
    Trace("frame: longest event-loop stall while connecting: %lld ms\n",
          static_cast<long long>(stall_longest_ms_));
  }
  if (generation != generation_ || closing_) return;  // the recorder went meanwhile
  if (static_cast<ConnectionResult>(result) != ConnectionResult::kReady) {
    UpdateCommandUI();
    return;
  }
  s_.model.AdoptRecords(*records);
  if (hidden_in_tray_) RestoreFromTray();
  s_.model.NotifyListeners(nullptr);
  SetConnectionText(kConnectedText);
  UpdateCommandUI();
}

void CMainFrame::SafelyRemove(bool exiting) {
  RecorderLink* link = &s_.link;
  LinkEvents* events = &s_.events;
  // An exit does not wait for it longer than kReleaseWaitMs (release_timer_).
  s_.worker.Post(
      [link, events, exiting] { emit events->recorderReleased(link->ReleaseRecorder(true), exiting); });
}

void CMainFrame::OnRecorderReleased(int ok, bool exiting) {
  Trace("frame: recorder released %d\n", ok);
  if (ok) s_.model.NotifyListeners(nullptr);
  UpdateCommandUI();
  if (exiting) FinishExit();
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

void CMainFrame::StartClosing() {
  if (closing_) return;
  closing_ = true;
  Trace("frame: closing%s\n", exit_requested_ ? " to exit" : "");
  for (QWidget* w : QApplication::topLevelWidgets()) {
    if (w == this || !w->isVisible()) continue;
    const QString title = w->windowTitle();
    if (std::any_of(std::begin(kClosedTitles), std::end(kClosedTitles),
                    [&](const char* t) { return title == QLatin1String(t); }))
      w->close();
  }
  // The SETTING dialog ends, its folder browser first; its command then
  // frees gate 4.
  if (setting_dialog_ != nullptr && end_setting_) end_setting_(setting_dialog_);
  // An open FORMAT or RESET FILE COUNTER confirmation is cancelled.
  for (QDialog* confirm : findChildren<QDialog*>("confirm_dialog"))
    if (confirm->isVisible()) confirm->reject();
  CloseAllPages();
  // The Copy/Burn panel: its job is cancelled and ends by itself; the gates
  // wait for it below.
  if (stop_panel_) stop_panel_();
  if (copy_burn_panel_ != nullptr) copy_burn_panel_->hide();
  PollGates();
  if (closing_) {
    gate_timer_->start();
    if (exit_requested_) statusBar()->showMessage("Waiting for the running operation to finish");
  }
}

void CMainFrame::PollGates() {
  if (!std::all_of(gates_.begin(), gates_.end(), [](const Event& g) { return g.IsSet(); })) return;
  if (pages_busy_ && pages_busy_()) return;
  if (panel_busy_ && panel_busy_()) return;
  gate_timer_->stop();
  OnCloseStep2();
}

void CMainFrame::OnCloseStep2() {
  closing_ = false;
  statusBar()->clearMessage();
  if (!exit_requested_) {
    HideInTray();
    if (pending_report_) {
      const PendingReport r = *pending_report_;
      pending_report_.reset();
      OnConnectionChanged(r.connected, r.status, r.open_error, r.open_context);
    }
    return;
  }
  if (s_.link.IsDriveOpen()) {
    release_timer_->start(kReleaseWaitMs);
    SafelyRemove(true);
    return;
  }
  FinishExit();
}

void CMainFrame::FinishExit() {
  if (exit_announced_) return;
  exit_announced_ = true;
  release_timer_->stop();
  final_close_ = true;
  Trace("frame: exit\n");
  close();
  emit exitReady();
}

}  // namespace lyr
