#include "settings/config_path.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace lyr {

std::string ExecutablePath() {
  std::error_code ec;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::string() : self.string();
}

std::string LocateConfigFile(const std::string& executable_path, const char* xdg_config_home,
                             const char* home) {
  const std::filesystem::path exe(executable_path);
  if (!executable_path.empty() && exe.has_parent_path()) {
    const std::filesystem::path dir = exe.parent_path();
    const std::filesystem::path beside = dir / kConfigFileName;
    std::error_code ec;
    if (std::filesystem::exists(beside, ec)) return beside.string();
  }
  std::filesystem::path base;
  if (xdg_config_home != nullptr && xdg_config_home[0] == '/') {
    base = xdg_config_home;
  } else if (home != nullptr && home[0] == '/') {
    base = std::filesystem::path(home) / ".config";
  } else {
    return {};
  }
  return (base / "lyr-manager" / kConfigFileName).string();
}

std::string LocateConfigFile(const std::string& executable_path) {
  return LocateConfigFile(executable_path, std::getenv("XDG_CONFIG_HOME"), std::getenv("HOME"));
}

}  // namespace lyr
