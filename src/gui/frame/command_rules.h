#pragma once
#include <cstdint>

namespace lyr {

// The command-rights mask bits of the guarded commands.
inline constexpr uint32_t kRightUpdate = 0x2;
inline constexpr uint32_t kRightSetting = 0x4;
inline constexpr uint32_t kRightFileType = 0x20;
inline constexpr uint32_t kRightDateTime = 0x40;
inline constexpr uint32_t kRightFormat = 0x8000;
inline constexpr uint32_t kRightDelete = 0x800;

// Connection pane texts.
inline constexpr char kNoRecorderText[] = "No LYR found";
inline constexpr char kConnectedText[] = "LYR Connected";
inline constexpr char kReleasedText[] =
    "LYR released: it may be unplugged now (File > Connect uses it again)";

// What the enabling rules look at.
struct CommandState {
  bool connected = false;  // IsDriveOpen
  bool open = false;       // IsAccessGranted
  bool refused = true;     // IsRecorderRefused
  bool released = false;   // Safely Remove let the recorder go; it is still plugged in
  bool admin = false;      // the administrator flag
  uint32_t mask = 0xFFFFFFFF;
  int window_menu_items = 2;  // "Close all", its separator and one per listed page
};

// A command's enabling rule; commands without one (Exit, About, the tray's
// own) are always enabled.
using CommandRule = bool (*)(const CommandState&);

namespace rule {
bool SafelyRemove(const CommandState& s);
bool Connect(const CommandState& s);
bool Update(const CommandState& s);
bool Setting(const CommandState& s);
bool FileType(const CommandState& s);
bool DateTime(const CommandState& s);
bool Format(const CommandState& s);
// Machine information and Reset file counter: a usable recorder only.
bool RecorderUsable(const CommandState& s);
bool CloseAll(const CommandState& s);
}  // namespace rule

}  // namespace lyr
