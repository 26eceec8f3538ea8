#include "app/ui/frame/command_ids.h"

namespace lyr {

bool IsCommandEnabled(int id, const CommandState& s) {
  const auto allowed = [&](uint32_t bit) { return s.admin || (s.mask & bit) != 0; };
  const bool usable = s.connected && s.open && !s.refused;
  switch (id) {
    case cmd::kSafelyRemove:
      return s.connected;
    case cmd::kUpdate:
      return s.connected && allowed(kRightUpdate);
    case cmd::kSetting:
      return allowed(kRightSetting);
    case cmd::kFileType:
      return usable && allowed(kRightFileType);
    case cmd::kDateTime:
      return usable && allowed(kRightDateTime);
    case cmd::kFormat:
      return usable && allowed(kRightFormat);
    case cmd::kMachineInformation:
    case cmd::kResetFileCounter:
      return usable;
    case cmd::kCloseAll:
      return s.window_menu_items > 2;
    default:
      return true;
  }
}

}  // namespace lyr
