#pragma once
#include <QDialog>
#include <QMainWindow>
#include <QPointer>
#include <QString>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <vector>

#include "gui/frame/app_state.h"
#include "gui/frame/command_rules.h"
#include "maintenance/firmware_update.h"
#include "session/connection.h"

class QAction;
class QDockWidget;
class QLabel;
class QMenu;
class QStackedWidget;
class QTimer;

namespace lyr {

class CEmptyState;
class CFirmwareUpdateRunner;
class CSystemTray;
class TaskQueue;
class ModelListener;
class PlayerBuffer;
class RecorderLink;
class RecorderModel;
class RecorderWatcher;
namespace burn {
class BurnerTools;
}

// The watcher's report on the recorder's drive.
struct ConnectionReport {
  enum class Kind { kLinked, kGone, kOpenFailed };
  Kind kind = Kind::kGone;
  quint32 open_error = 0;  // kOpenFailed: the last error of the open
  QString open_context;    // kOpenFailed: what held the drive
};

// Why the recorder is released: the Safely Remove command, or the end of an exit.
enum class ReleaseFor { kSafelyRemove, kExit };

// The frame's own work that the closing sequence waits for before the
// recorder is let go (the pages' and the Copy/Burn panel's are asked apart).
enum class FrameOperation { kFirmwareUpdate, kFormat, kResetFileCounter, kSettingDialog };

// What the link threads report to the frame. Signals are emitted on the
// watcher and worker threads and arrive queued on the GUI thread; the object
// outlives both threads, so a report that comes after the frame is gone
// reaches nobody.
class LinkEvents : public QObject {
  Q_OBJECT
 signals:
  void connectionChanged(const lyr::ConnectionReport& report);
  // The connection sequence ended; `records` holds what it read.
  void connectionCompleted(quint64 generation, lyr::ConnectionResult result,
                           std::shared_ptr<lyr::RecorderModel> records);
  void recorderReleased(bool released, lyr::ReleaseFor reason);
  // Work the frame posted to the worker has ended.
  void operationEnded(lyr::FrameOperation operation);
};

// The frame's commands; each is an action of the frame with the object name
// given in BuildMenus.
struct FrameActions {
  QAction* update = nullptr;
  QAction* setting = nullptr;
  QAction* safely_remove = nullptr;
  QAction* connect = nullptr;  // links a recorder Safely Remove let go
  QAction* exit = nullptr;
  QAction* file_type = nullptr;
  QAction* date_time = nullptr;
  QAction* copy_burn = nullptr;
  QAction* format = nullptr;
  QAction* machine_information = nullptr;
  QAction* reset_file_counter = nullptr;  // no menu item; Ctrl+Shift+F12
  QAction* close_all = nullptr;
  QAction* about = nullptr;
  // The tray menu's.
  QAction* maximize = nullptr;
  QAction* tray_safely_remove = nullptr;
  QAction* tray_about = nullptr;
  QAction* tray_exit = nullptr;
};

// What the frame works with; the application owns each of them.
struct FrameServices {
  AppState& app;
  RecorderLink& link;
  RecorderModel& model;
  RecorderWatcher* watcher;  // null in tests that report by hand
  TaskQueue& worker;
  LinkEvents& events;
  burn::BurnerTools* burner = nullptr;    // the Copy/Burn panel's; none: no panel
  PlayerBuffer* player_buffer = nullptr;  // the player view's; none: no player view
  TaskQueue* tool_worker = nullptr;       // the burner tool calls; set with `burner`
  TaskQueue* player_worker = nullptr;     // playback's starts and stops; set with `player_buffer`
};

// The one top-level window: menus and their commands, the status bar's
// connection pane, the status panel, the pages with the Window menu's
// recent list, the tray icon, and the closing sequence.
class CMainFrame : public QMainWindow {
  Q_OBJECT
 public:
  // How long an Exit waits for Safely Remove before the program ends anyway.
  static constexpr int kReleaseWaitMs = 5000;

  explicit CMainFrame(FrameServices services, QWidget* parent = nullptr);
  ~CMainFrame() override;

  // Tray icon, watcher, status panel, status bar and pages; false when the
  // window cannot be made.
  bool OnCreate();

  const FrameActions& Actions() const { return actions_; }
  QMenu* WindowMenu() const { return window_menu_; }
  QMenu* TrayMenu() const { return tray_menu_; }
  CommandState CurrentCommandState() const;
  // The framework's idle update: every command's enabled state from its rule.
  void UpdateCommandUI();

  // The connection pane's text; empty while the bar has no pane yet.
  QString ConnectionText() const;
  bool IsClosing() const { return closing_; }
  bool IsHiddenInTray() const { return hidden_in_tray_; }
  bool ExitRequested() const { return exit_requested_; }
  bool IsRunning(FrameOperation operation) const { return running_.count(operation) != 0; }
  // The closing sequence waits while an operation runs.
  void OperationStarted(FrameOperation operation);
  void OperationEnded(FrameOperation operation);

  // A page the frame shows on a command (`command`, null: none) and lists in
  // its Window menu while shown; its index is its place in the page list. With `register_listener`
  // a page that is a ModelListener is registered with the model while shown
  // (pages that register themselves pass false).
  int AddPage(QWidget* page, QAction* command, bool register_listener = true);
  const std::vector<QWidget*>& Pages() const { return pages_; }
  // Docks the status panel (which registers itself with the model).
  void SetStatusPanel(QWidget* panel);
  // The SETTING dialog: `make` builds one for each Setting command, which
  // runs it modally; `end` ends an open one for the closing sequence (its
  // folder browser first).
  void SetSettingDialog(std::function<QDialog*(QWidget* parent)> make, std::function<void(QDialog*)> end) {
    make_setting_ = std::move(make);
    end_setting_ = std::move(end);
  }
  // Work of the pages that the closing sequence waits for, beside the
  // frame's operations (a page's Apply still writing to the recorder).
  void SetPagesBusy(std::function<bool()> busy) { pages_busy_ = std::move(busy); }
  // The Copy/Burn panel: shown by "Copy / Burn", in no page list, left alone
  // by "Close all". Closing stops it (`stop`) and hides it, and waits while
  // `busy` (a disc check, a burn, a copy or a delete still ending).
  void SetCopyBurnPanel(QWidget* panel, std::function<void()> stop, std::function<bool()> busy) {
    copy_burn_panel_ = panel;
    stop_panel_ = std::move(stop);
    panel_busy_ = std::move(busy);
  }
  QWidget* CopyBurnPanel() const { return copy_burn_panel_; }
  // Asked first when the recorder leaves: true when that interrupted work (a
  // copy, a delete, a playback, a burn) whose owner will say what became of
  // it. The window then stays where it is and the work ends by itself: a
  // burn that no longer needs the recorder finishes its disc.
  void SetRecorderLeftHandler(std::function<bool()> interrupted) { recorder_left_ = std::move(interrupted); }

  // The tray menu's Exit: the closing sequence, then the end of the program.
  void RequestExit();
  // A second start asked this one to come forward: normal size, foreground.
  void RaiseFromSecondStart();
  void HideInTray();
  void RestoreFromTray();

  // Handlers of the link's reports (called through LinkEvents).
  void OnConnectionChanged(const ConnectionReport& report);
  void OnConnectionCompleted(quint64 generation, ConnectionResult result,
                             const std::shared_ptr<RecorderModel>& records);
  // Work the closing sequence waits for (a page's or the panel's) ended:
  // the sequence goes on if nothing else runs.
  void ContinueClosing();

 signals:
  void connectionTextChanged(const QString& text);
  // The program may end now (exit requested and the closing sequence done).
  void exitReady();

 protected:
  void closeEvent(QCloseEvent* event) override;
  void showEvent(QShowEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private slots:
  // The commands of the menus.
  void OnFileUpdate();
  void OnSetting();
  void OnSafelyRemove();
  void OnConnect();
  void OnAppExit();
  void OnFileType();
  void OnDateTime();
  void OnCopyBurn();
  void OnFormat();
  void OnMachineInformation();
  void OnResetFileCounter();
  void OnCloseAll();
  void OnAppAbout();
  void OnMaximize();
  void OnTrayExit();

 private:
  using Slot = void (CMainFrame::*)();
  void BuildMenus();
  QAction* AddCommand(QMenu* menu, const QString& text, const QString& name, CommandRule rule, Slot slot);
  void ShowPageFor(QAction* command);
  void ShowPage(size_t index);
  void CloseAllPages();
  void OnPageShown(QWidget* page);
  void OnPageHidden(QWidget* page);
  int PageIndex(const QWidget* page) const;
  void SetConnectionText(const QString& text);
  void ShowAccessError(quint32 open_error, const QString& open_context);
  void RecorderGone();
  // The client shows the player (a recorder is linked) or the empty state
  // with `text` and how to connect one.
  void ShowEmptyState(bool empty, const QString& text = {});
  // Brought forward from the tray icon or a second start.
  void ShowFromTray();
  void StartConnection();
  void SafelyRemove(ReleaseFor reason);
  void OnRecorderReleased(bool released, ReleaseFor reason);
  void RefreshAdministrator();
  // The update runs off the GUI thread and ends the program once it
  // succeeded; format and reset ask first.
  void OnUpdateFinished(FirmwareUpdateOutcome outcome);
  void ConfirmResetFileCounter(uint32_t highest_index);

  // The closing sequence: close what may wait on the user, hide the pages,
  // wait for the running operations, then hide in the tray or end.
  void StartClosing();
  bool OutsideWorkBusy() const;
  void OnCloseStep2();
  void FinishExit();

  FrameServices s_;
  CSystemTray* tray_ = nullptr;
  QMenu* window_menu_ = nullptr;
  QMenu* tray_menu_ = nullptr;
  FrameActions actions_;
  std::vector<std::pair<QAction*, CommandRule>> rules_;
  QLabel* pane_ = nullptr;
  QDockWidget* status_dock_ = nullptr;
  QWidget* status_panel_ = nullptr;
  std::function<QDialog*(QWidget*)> make_setting_;
  std::function<void(QDialog*)> end_setting_;
  QPointer<QDialog> setting_dialog_;
  QPointer<QDialog> access_error_box_;
  CFirmwareUpdateRunner* update_runner_ = nullptr;
  std::vector<bool> page_registers_;  // per page: the frame registers it with the model
  std::function<bool()> pages_busy_;
  QWidget* copy_burn_panel_ = nullptr;
  std::function<void()> stop_panel_;
  std::function<bool()> panel_busy_;
  std::function<bool()> recorder_left_;
  std::vector<QWidget*> pages_;
  std::map<QAction*, size_t> page_of_command_;
  std::map<size_t, QAction*> page_entries_;
  std::set<FrameOperation> running_;
  // The pages' and the panel's work tell no end to the frame: while closing
  // waits for it, this asks again.
  QTimer* outside_work_poll_ = nullptr;
  // Ends an exit whose Safely Remove does not answer in time.
  QTimer* release_deadline_ = nullptr;
  // With LYR_TRACE: the longest gap between ticks of a 5 ms timer while a
  // connection sequence runs, to show the GUI thread never waits for it.
  QTimer* stall_probe_ = nullptr;
  qint64 stall_last_ms_ = 0;
  qint64 stall_longest_ms_ = 0;
  bool shown_once_ = false;
  // A recorder was linked since the start: its leaving puts the window away;
  // before that the window stays, showing the empty state.
  bool linked_once_ = false;
  QStackedWidget* client_stack_ = nullptr;  // the empty state, then the player
  CEmptyState* empty_state_ = nullptr;

  bool closing_ = false;
  bool exit_requested_ = false;
  bool hidden_in_tray_ = false;
  bool final_close_ = false;
  bool exit_announced_ = false;
  quint64 generation_ = 0;  // a connection sequence's result counts only for its own
  // A report that came while closing, handled when the sequence ends.
  std::optional<ConnectionReport> pending_report_;
};

}  // namespace lyr

Q_DECLARE_METATYPE(std::shared_ptr<lyr::RecorderModel>)
Q_DECLARE_METATYPE(lyr::ConnectionReport)
Q_DECLARE_METATYPE(lyr::ConnectionResult)
Q_DECLARE_METATYPE(lyr::ReleaseFor)
Q_DECLARE_METATYPE(lyr::FrameOperation)
