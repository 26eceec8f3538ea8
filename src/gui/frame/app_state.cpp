#include "gui/frame/app_state.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include "settings/profile_file.h"

namespace lyr {
namespace {
constexpr size_t kPathBuffer = 260;
constexpr char kCommonSection[] = "common";
constexpr char kTempPathKey[] = "Temp_Path";
}  // namespace

bool IsAdministrator(const std::string& device_node) {
  if (::geteuid() == 0) return true;
  return !device_node.empty() && ::access(device_node.c_str(), R_OK | W_OK) == 0;
}

std::string SystemTempFolder() {
  const char* tmp = std::getenv("TMPDIR");
  struct stat st {};
  if (tmp != nullptr && tmp[0] == '/' && ::stat(tmp, &st) == 0 && S_ISDIR(st.st_mode)) return tmp;
  return "/tmp";
}

std::string ReadTempPath(const std::string& config_path, const std::string& fallback) {
  if (config_path.empty()) return fallback;
  return ReadProfileString(config_path, kCommonSection, kTempPathKey, fallback, kPathBuffer);
}

int WriteTempPath(const std::string& config_path, const std::string& folder) {
  if (config_path.empty()) return 0;
  return WriteProfileString(config_path, kCommonSection, kTempPathKey, folder);
}

}  // namespace lyr
