#include "gui/frame/command_rules.h"

namespace lyr::rule {
namespace {

bool Allowed(const CommandState& s, uint32_t bit) { return s.admin || (s.mask & bit) != 0; }

}  // namespace

bool SafelyRemove(const CommandState& s) { return s.connected; }
bool Connect(const CommandState& s) { return s.released && !s.connected; }
bool Update(const CommandState& s) { return s.connected && Allowed(s, kRightUpdate); }
bool Setting(const CommandState& s) { return Allowed(s, kRightSetting); }
bool RecorderUsable(const CommandState& s) { return s.connected && s.open && !s.refused; }
bool FileType(const CommandState& s) { return RecorderUsable(s) && Allowed(s, kRightFileType); }
bool DateTime(const CommandState& s) { return RecorderUsable(s) && Allowed(s, kRightDateTime); }
bool Format(const CommandState& s) { return RecorderUsable(s) && Allowed(s, kRightFormat); }
bool CloseAll(const CommandState& s) { return s.window_menu_items > 2; }

}  // namespace lyr::rule
