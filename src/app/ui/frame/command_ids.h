#pragma once
#include <cstdint>

namespace lyr {

// Command ids of the main menu (128) and the tray menu (154). They are kept as
// the action's data, so a command is found by its id wherever it sits.
namespace cmd {
inline constexpr int kUpdate = 57610;
inline constexpr int kSetting = 32917;
inline constexpr int kSafelyRemove = 32775;
inline constexpr int kExit = 57665;
inline constexpr int kFileType = 32778;
inline constexpr int kDateTime = 32779;
inline constexpr int kCopyBurn = 32924;
inline constexpr int kFormat = 32789;
inline constexpr int kMachineInformation = 32793;
inline constexpr int kResetFileCounter = 32790;
inline constexpr int kCloseAll = 32905;
inline constexpr int kFirstPage = 32804;  // Window menu entry of page 0
inline constexpr int kLastPage = 32904;
inline constexpr int kAbout = 57664;
inline constexpr int kMaximize = 32800;  // tray menu
inline constexpr int kTrayExit = 32802;  // tray menu
}  // namespace cmd

// Resource ids that stand for themselves in the program.
inline constexpr int kMainMenuId = 128;
inline constexpr int kTrayMenuId = 154;
inline constexpr int kTrayIconId = 154;
inline constexpr int kStatusBarId = 59393;
inline constexpr int kStatusPanelId = 151;

// Frame messages, kept as names for the events that stand in for them.
inline constexpr int kPageHiddenMessage = 0x800C;
inline constexpr int kPageShownMessage = 0x800D;
inline constexpr int kTrayNotifyMessage = 0x8014;
inline constexpr int kCloseStep2Message = 0x8016;
inline constexpr int kCloseStep1Message = 0x801B;

// The command-rights mask bits of the guarded commands.
inline constexpr uint32_t kRightUpdate = 0x2;
inline constexpr uint32_t kRightSetting = 0x4;
inline constexpr uint32_t kRightFileType = 0x20;
inline constexpr uint32_t kRightDateTime = 0x40;
inline constexpr uint32_t kRightFormat = 0x8000;
inline constexpr uint32_t kRightDelete = 0x800;

// Connection pane texts (strings 61205 and 61206).
inline constexpr char kNoRecorderText[] = "No LYR found";
inline constexpr char kConnectedText[] = "LYR Connected";

// What the enabling rules look at.
struct CommandState {
  bool connected = false;  // IsDriveOpen
  bool open = false;       // IsAccessGranted
  bool refused = true;     // IsRecorderRefused
  bool admin = false;      // the administrator flag
  uint32_t mask = 0xFFFFFFFF;
  int window_menu_items = 2;  // "Close all", its separator and one per listed page
};

// Whether a command of the menus is enabled in `state`. Commands without a
// rule (Exit, About, the tray's own) are always enabled.
bool IsCommandEnabled(int id, const CommandState& state);

}  // namespace lyr
