#pragma once
#include <string>

namespace lyr {

inline constexpr char kConfigFileName[] = "cfgfile.ini";

// The running program's own path (empty when it cannot be found).
std::string ExecutablePath();

// Where cfgfile.ini lives: beside the executable when that folder is writable
// or already holds the file (a portable install), else in the user's
// configuration folder, $XDG_CONFIG_HOME/lyr-manager (or ~/.config/lyr-manager
// when XDG_CONFIG_HOME is unset or not absolute). Empty when no folder can be
// named; the program then runs with the built-in settings and saves nothing.
std::string LocateConfigFile(const std::string& executable_path, const char* xdg_config_home,
                             const char* home);
// The same with the process environment.
std::string LocateConfigFile(const std::string& executable_path);

}  // namespace lyr
