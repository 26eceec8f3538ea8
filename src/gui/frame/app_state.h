#pragma once
#include <cstdint>
#include <string>

namespace lyr {

// The values the application settles at start-up and other windows read:
// where cfgfile.ini is, the folder for temporary files, the administrator
// flag and the command-rights mask.
struct AppState {
  std::string config_path;  // empty: nothing is read or written
  std::string temp_folder;
  bool admin = false;
  uint32_t command_rights = 0xFFFFFFFF;
};

// The administrator flag: the effective user is root, or the recorder's
// device node (when one is known) can be read and written by this user, as
// the udev rule we ship grants the user at the seat.
bool IsAdministrator(const std::string& device_node);

// $TMPDIR when it names a folder, else /tmp.
std::string SystemTempFolder();
// Key Temp_Path of section common, or `fallback` when it is missing.
std::string ReadTempPath(const std::string& config_path, const std::string& fallback);
// Writes Temp_Path back; 1 or 0 like the profile functions, 0 for an empty path.
int WriteTempPath(const std::string& config_path, const std::string& folder);

}  // namespace lyr
