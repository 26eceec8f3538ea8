#pragma once
#include <string>

namespace lyr {

inline constexpr char kConfigFileName[] = "cfgfile.ini";

// The running program's own path (empty when it cannot be found).
std::string ExecutablePath();

// Where cfgfile.ini lives: beside the executable only when the file already
// stands there (a portable copy), else in the user's configuration folder, $XDG_CONFIG_HOME/lyr-manager (or ~/.config/lyr-manager
// when XDG_CONFIG_HOME is unset or not absolute). A writable program folder
// is not enough: an installed program (or one run as root from /usr/bin)
// must not scatter settings there. Empty when no folder can be
// named; the program then runs with the built-in settings and saves nothing.
std::string LocateConfigFile(const std::string& executable_path, const char* xdg_config_home,
                             const char* home);
// The same with the process environment.
std::string LocateConfigFile(const std::string& executable_path);

}  // namespace lyr
