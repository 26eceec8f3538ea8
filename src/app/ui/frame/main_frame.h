#pragma once
#include <QDialog>
#include <QMainWindow>
#include <QPointer>
#include <QString>
#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "app/app_state.h"
#include "app/ui/frame/command_ids.h"
#include "platform/event.h"
#include "session/connection.h"

class QAction;
class QDockWidget;
class QLabel;
class QMenu;
class QTimer;

namespace lyr {

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

// What the link threads report to the frame. Signals are emitted on the
// watcher and worker threads and arrive queued on the GUI thread; the object
// outlives both threads, so a report that comes after the frame is gone
// reaches nobody.
class LinkEvents : public QObject {
  Q_OBJECT
 signals:
  // The watcher's report: (1, 0) linked, (0, 0) gone, (0, -1) the drive did
  // not open, with the last error and what held it.
  void connectionChanged(int connected, int status, quint32 open_error, QString open_context);
  // The connection sequence ended; `records` holds what it read.
  void connectionCompleted(quint64 generation, int result, std::shared_ptr<lyr::RecorderModel> records);
  void recorderReleased(int ok, bool exiting);
};

// What the frame works with; the application owns each of them.
struct FrameServices {
  AppState& app;
  RecorderLink& link;
  RecorderModel& model;
  RecorderWatcher* watcher;  // null in tests that report by hand
  TaskQueue& worker;
  LinkEvents& events;
  burn::BurnerTools* burner = nullptr;  // the Copy/Burn panel's; none: no panel
  PlayerBuffer* player_buffer = nullptr;  // the player view's; none: no player view
};

// The one top-level window: menus and their commands, the status bar's
// connection pane, the status panel, the pages with the Window menu's
// recent list, the tray icon, and the closing sequence.
class CMainFrame : public QMainWindow {
  Q_OBJECT
 public:
  static constexpr int kGateCount = 5;
  // How long an Exit waits for Safely Remove before the program ends anyway.
  static constexpr int kReleaseWaitMs = 5000;

  explicit CMainFrame(FrameServices services, QWidget* parent = nullptr);
  ~CMainFrame() override;

  // Tray icon, watcher, status panel, status bar and pages; false when the
  // window cannot be made.
  bool OnCreate();

  QAction* Action(int id) const;      // main menu
  QAction* TrayAction(int id) const;  // tray menu
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
  Event& OperationGate(int index) { return gates_[static_cast<size_t>(index)]; }

  // A page the frame shows on a command and lists in its Window menu while
  // shown; its index is its place in the page list. With `register_listener`
  // a page that is a ModelListener is registered with the model while shown
  // (pages that register themselves pass false).
  int AddPage(QWidget* page, int command_id, bool register_listener = true);
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
  // Work of the pages that the closing sequence waits for, beside the gates
  // (a page's Apply still writing to the recorder).
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

  // The tray menu's Exit: the closing sequence, then the end of the program.
  void RequestExit();
  // A second start asked this one to come forward: normal size, foreground.
  void RaiseFromSecondStart();
  void HideInTray();
  void RestoreFromTray();

  // Handlers of the link's reports (called through LinkEvents).
  void OnConnectionChanged(int connected, int status, quint32 open_error, const QString& open_context);
  void OnConnectionCompleted(quint64 generation, int result, const std::shared_ptr<RecorderModel>& records);

 signals:
  void connectionTextChanged(const QString& text);
  // The program may end now (exit requested and the closing sequence done).
  void exitReady();

 protected:
  void closeEvent(QCloseEvent* event) override;
  void showEvent(QShowEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void BuildMenus();
  QAction* AddCommand(QMenu* menu, const QString& text, int id, std::map<int, QAction*>& table);
  void RunCommand(int id);
  void ShowPageForCommand(int id);
  void ShowPage(size_t index);
  void CloseAllPages();
  void OnPageShown(QWidget* page);
  void OnPageHidden(QWidget* page);
  int PageIndex(const QWidget* page) const;
  void SetConnectionText(const QString& text);
  void ShowAccessError(quint32 open_error, const QString& open_context);
  void RecorderGone();
  void StartConnection();
  void SafelyRemove(bool exiting);
  void OnRecorderReleased(int ok, bool exiting);
  void RefreshAdministrator();
  void ShowAbout();
  void RunSettingDialog();
  // The maintenance commands: the update runs off the GUI thread and ends
  // the program once it succeeded; format and reset ask first.
  void RunUpdate();
  void OnUpdateFinished(int outcome);
  void RunFormat();
  void RunResetFileCounter();
  void ConfirmResetFileCounter(uint32_t highest_index);

  // The closing sequence: close what may wait on the user, hide the pages,
  // wait for the operation gates, then hide in the tray or end.
  void StartClosing();
  void PollGates();
  void OnCloseStep2();
  void FinishExit();

  FrameServices s_;
  CSystemTray* tray_ = nullptr;
  QMenu* window_menu_ = nullptr;
  QMenu* tray_menu_ = nullptr;
  std::map<int, QAction*> actions_;
  std::map<int, QAction*> tray_actions_;
  QLabel* pane_ = nullptr;
  QDockWidget* status_dock_ = nullptr;
  QWidget* status_panel_ = nullptr;
  std::function<QDialog*(QWidget*)> make_setting_;
  std::function<void(QDialog*)> end_setting_;
  QPointer<QDialog> setting_dialog_;
  CFirmwareUpdateRunner* update_runner_ = nullptr;
  std::vector<bool> page_registers_;  // per page: the frame registers it with the model
  std::function<bool()> pages_busy_;
  QWidget* copy_burn_panel_ = nullptr;
  std::function<void()> stop_panel_;
  std::function<bool()> panel_busy_;
  std::vector<QWidget*> pages_;
  std::map<int, size_t> page_of_command_;
  std::map<size_t, QAction*> page_entries_;
  std::array<Event, kGateCount> gates_;
  QTimer* gate_timer_ = nullptr;
  QTimer* release_timer_ = nullptr;
  // With LYR_TRACE: the longest gap between ticks of a 5 ms timer while a
  // connection sequence runs, to show the GUI thread never waits for it.
  QTimer* stall_probe_ = nullptr;
  qint64 stall_last_ms_ = 0;
  qint64 stall_longest_ms_ = 0;
  bool shown_once_ = false;

  bool closing_ = false;
  bool exit_requested_ = false;
  bool hidden_in_tray_ = false;
  bool final_close_ = false;
  bool exit_announced_ = false;
  quint64 generation_ = 0;  // a connection sequence's result counts only for its own
  // A report that came while closing, handled when the sequence ends.
  struct PendingReport {
    int connected;
    int status;
    quint32 open_error;
    QString open_context;
  };
  std::optional<PendingReport> pending_report_;
};

}  // namespace lyr

Q_DECLARE_METATYPE(std::shared_ptr<lyr::RecorderModel>)
