#include "transfer/local_folder.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

namespace lyr {
namespace {

bool IsAudioFileName(const std::string& name) {
  if (name.size() < 3) return false;
  std::string tail = name.substr(name.size() - 3);
  for (char& c : tail) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return tail == "BWF" || tail == "MP2" || tail == "WAV";
}

std::string FormatTime(time_t t) {
  struct tm tm {};
  ::localtime_r(&t, &tm);
  char buf[32];
  std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M", &tm);
  return buf;
}

bool IsFolder(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Octal escapes (\040 for a blank) of a mounts file field.
std::string UnescapeMountField(const std::string& field) {
  std::string out;
  for (size_t i = 0; i < field.size(); ++i) {
    if (field[i] == '\\' && i + 3 < field.size()) {
      const std::string digits = field.substr(i + 1, 3);
      if (digits.size() == 3 &&
          std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '7'; })) {
        out += static_cast<char>(std::stoi(digits, nullptr, 8));
        i += 3;
        continue;
      }
    }
    out += field[i];
  }
  return out;
}

}  // namespace

std::vector<LocalFileRow> ListLocalFolder(const std::string& folder) {
  std::vector<LocalFileRow> folders;
  std::vector<LocalFileRow> files;
  std::error_code ec;
  std::filesystem::directory_iterator it(folder, std::filesystem::directory_options::skip_permission_denied,
                                         ec);
  if (ec) return {};
  for (; it != std::filesystem::directory_iterator(); it.increment(ec)) {
    if (ec) break;
    const std::string name = it->path().filename().string();
    if (name.empty() || name[0] == '.') continue;
    struct stat st {};
    if (::stat(it->path().c_str(), &st) != 0) continue;
    LocalFileRow row;
    row.name = name;
    row.date = FormatTime(st.st_mtime);
    if (S_ISDIR(st.st_mode)) {
      row.type = "Folder";
      row.is_folder = true;
      folders.push_back(std::move(row));
    } else if (S_ISREG(st.st_mode) && IsAudioFileName(name)) {
      row.type = " File";
      char size[32];
      std::snprintf(size, sizeof size, "%8uK",
                    static_cast<unsigned>(static_cast<uint64_t>(st.st_size) / 1000));
      row.size = size;
      row.bytes = static_cast<uint64_t>(st.st_size);
      files.push_back(std::move(row));
    }
  }
  auto by_name = [](const LocalFileRow& a, const LocalFileRow& b) { return a.name < b.name; };
  std::sort(folders.begin(), folders.end(), by_name);
  std::sort(files.begin(), files.end(), by_name);
  folders.insert(folders.end(), files.begin(), files.end());
  return folders;
}

std::string HomeFolder() {
  const char* home = std::getenv("HOME");
  if (home != nullptr && home[0] == '/' && IsFolder(home)) return home;
  return "/";
}

std::vector<LocalLocation> MountedPlaces(const std::string& mounts_file) {
  std::vector<LocalLocation> out;
  std::set<std::string> seen;
  auto add = [&](const std::string& label, const std::string& path) {
    if (!seen.insert(path).second) return;
    out.push_back({label, path});
  };
  const std::string home = HomeFolder();
  if (home != "/") add(home, home);
  // Pseudo and virtual file systems are not places to save recordings.
  static const std::set<std::string> kVirtual = {
      "proc",       "sysfs",    "devtmpfs", "devpts",    "tmpfs",           "cgroup",     "cgroup2",
      "securityfs", "pstore",   "bpf",      "debugfs",   "tracefs",         "mqueue",     "hugetlbfs",
      "configfs",   "fusectl",  "autofs",   "efivarfs",  "binfmt_misc",     "rpc_pipefs", "nsfs",
      "overlay",    "squashfs", "ramfs",    "selinuxfs", "fuse.gvfsd-fuse", "fuse.portal"};
  std::ifstream mounts(mounts_file);
  std::string line;
  while (std::getline(mounts, line)) {
    std::istringstream fields(line);
    std::string device, dir, type;
    if (!(fields >> device >> dir >> type)) continue;
    dir = UnescapeMountField(dir);
    if (dir == "/" || kVirtual.count(type) != 0) continue;
    const bool system_area = dir.rfind("/proc", 0) == 0 || dir.rfind("/sys", 0) == 0 ||
                             dir.rfind("/dev", 0) == 0 ||
                             (dir.rfind("/run", 0) == 0 && dir.rfind("/run/media", 0) != 0);
    if (system_area) continue;
    add(dir, dir);
  }
  add("/", "/");
  return out;
}

bool IsUsableLocation(const std::string& path) {
  return IsFolder(path) && ::access(path.c_str(), R_OK | X_OK) == 0;
}

std::vector<LocalLocation> LocalLocations(const std::string& mounts_file) {
  std::vector<LocalLocation> out;
  for (auto& place : MountedPlaces(mounts_file)) {
    // Home and "/" are offered as they are; a mount only when it can be used.
    const bool mount = place.path != "/" && place.path != HomeFolder();
    if (!mount || IsUsableLocation(place.path)) out.push_back(std::move(place));
  }
  return out;
}

std::vector<std::string> ParentFolders(const std::string& folder) {
  std::vector<std::string> out;
  std::filesystem::path p = std::filesystem::path(folder).lexically_normal();
  if (p.has_filename() == false && p != p.root_path()) p = p.parent_path();
  while (p.has_relative_path()) {
    p = p.parent_path();
    out.push_back(p.string());
  }
  return out;
}

}  // namespace lyr
