#include "link/disk_scanner.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <system_error>

#include "platform/trace.h"

namespace lyr {
namespace {

namespace fs = std::filesystem;

// Longest instance path the matching looks at (the registry value's buffer
// of 256 bytes with its terminator).
constexpr size_t kInstancePathMax = 255;
constexpr size_t kAttributeMax = 256;
constexpr size_t kUeventMax = 4096;

// The content of a sysfs attribute without its line end, or nothing when the
// file is missing or is no regular file (a fake tree may hold anything).
std::optional<std::string> ReadAttribute(const fs::path& path, size_t limit = kAttributeMax) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return std::nullopt;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return std::nullopt;
  }
  std::string text(limit, '\0');
  size_t total = 0;
  while (total < limit) {
    const ssize_t n = ::read(fd, text.data() + total, limit - total);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      ::close(fd);
      return std::nullopt;
    }
    if (n == 0) break;
    total += static_cast<size_t>(n);
  }
  ::close(fd);
  text.resize(total);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  return text;
}

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

// A byte the instance path can carry as it is: printable, not a blank, and
// none of the characters that separate its parts.
bool IsPlainByte(char c) {
  const auto u = static_cast<unsigned char>(c);
  return u > 0x20 && u < 0x7F && c != ',' && c != '&' && c != '\\';
}

// A SCSI identification text as the Windows enumeration shows it: trimmed,
// blanks and other unusable bytes turned into '_'.
std::string InstanceText(std::string_view raw) {
  while (!raw.empty() && IsSpace(raw.front())) raw.remove_prefix(1);
  while (!raw.empty() && IsSpace(raw.back())) raw.remove_suffix(1);
  std::string out(raw);
  for (char& c : out)
    if (!IsPlainByte(c)) c = '_';
  return out;
}

// The USB serial when it can name the device; otherwise the device's own
// sysfs name stands in (as Windows makes up an id for a device whose serial
// is missing or holds bytes it cannot use).
std::string SerialText(const std::optional<std::string>& serial, const std::string& usb_name) {
  if (serial && !serial->empty() && serial->size() <= 126 &&
      std::all_of(serial->begin(), serial->end(), IsPlainByte))
    return *serial;
  return InstanceText(usb_name);
}

// The USB device above a SCSI device: the nearest ancestor with an idVendor
// attribute, on a path through a USB bus ("usbN"), inside the tree.
std::optional<fs::path> UsbDeviceOf(const fs::path& scsi_device, const fs::path& root) {
  for (fs::path p = scsi_device; p.has_relative_path() && p != root; p = p.parent_path()) {
    std::error_code ec;
    if (!fs::is_regular_file(p / "idVendor", ec)) continue;
    const fs::path inside = p.lexically_relative(root);
    if (inside.empty() || *inside.begin() == "..") return std::nullopt;
    for (const fs::path& part : inside)
      if (part.string().rfind("usb", 0) == 0) return p;
    return std::nullopt;
  }
  return std::nullopt;
}

std::string NodeOf(const fs::path& block_dir, const std::string& name) {
  if (const auto uevent = ReadAttribute(block_dir / "uevent", kUeventMax)) {
    std::string_view rest = *uevent;
    while (!rest.empty()) {
      const size_t nl = rest.find('\n');
      const std::string_view line = rest.substr(0, nl);
      rest = nl == std::string_view::npos ? std::string_view{} : rest.substr(nl + 1);
      if (line.rfind("DEVNAME=", 0) != 0) continue;
      const std::string_view devname = line.substr(8);
      if (devname.empty() || devname.find('\0') != std::string_view::npos) break;
      if (devname.front() == '/') return std::string(devname);
      return "/dev/" + std::string(devname);
    }
  }
  return "/dev/" + name;
}

std::optional<UsbDisk> DescribeDisk(const fs::path& root, const std::string& name) {
  std::error_code ec;
  const fs::path block_dir = root / "block" / name;
  const fs::path scsi = fs::canonical(block_dir / "device", ec);
  if (ec) return std::nullopt;  // no device behind it: loop, ram, zram, ...
  const auto usb = UsbDeviceOf(scsi, root);
  if (!usb) return std::nullopt;
  const auto vendor = ReadAttribute(scsi / "vendor");
  const auto model = ReadAttribute(scsi / "model");
  if (!vendor || !model) return std::nullopt;
  const auto rev = ReadAttribute(scsi / "rev");

  UsbDisk disk;
  disk.name = name;
  disk.vendor = InstanceText(*vendor);
  disk.product = InstanceText(*model);
  disk.revision = InstanceText(rev.value_or(""));
  disk.serial = SerialText(ReadAttribute(*usb / "serial"), usb->filename().string());
  disk.instance_path = "USBSTOR\\DISK&VEN_" + disk.vendor + "&PROD_" + disk.product + "&REV_" +
                       disk.revision + "\\" + disk.serial + "&0";
  disk.node = NodeOf(block_dir, name);
  disk.dev = ReadAttribute(block_dir / "dev").value_or("");
  return disk;
}

// The type of the mount with device number `dev` ("ext4", "fuse.sshfs"), from
// /proc/self/mountinfo: "ID PARENT MAJOR:MINOR ROOT POINT OPTIONS [TAGS] - TYPE ...".
// Empty when no mount has that number.
std::string MountTypeOf(dev_t dev) {
  std::ifstream mounts("/proc/self/mountinfo");
  const std::string number = std::to_string(major(dev)) + ":" + std::to_string(minor(dev));
  std::string type;
  std::string line;
  while (std::getline(mounts, line)) {
    const std::string_view text(line);
    // The third field is the device number.
    const size_t a = text.find(' ');
    const size_t b = a == std::string_view::npos ? a : text.find(' ', a + 1);
    const size_t c = b == std::string_view::npos ? b : text.find(' ', b + 1);
    if (c == std::string_view::npos || text.substr(b + 1, c - b - 1) != number) continue;
    const size_t dash = text.find(" - ", c);
    if (dash == std::string_view::npos) continue;
    const std::string_view rest = text.substr(dash + 3);
    // Mounts stacked on one another list the top one last; any of them with
    // this number is the same file system.
    type = std::string(rest.substr(0, rest.find(' ')));
  }
  return type;
}

char Upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

}  // namespace

std::string DefaultSysfsRoot() {
  const char* root = std::getenv("LYR_SYSFS_ROOT");
  return (root != nullptr && root[0] != '\0') ? std::string(root) : std::string("/sys");
}

std::vector<UsbDisk> ListUsbDisks(const std::string& sysfs_root) {
  std::error_code ec;
  const fs::path root = fs::canonical(sysfs_root, ec);
  if (ec) return {};
  std::vector<std::string> names;
  for (fs::directory_iterator it(root / "block", ec), end; !ec && it != end; it.increment(ec))
    names.push_back(it->path().filename().string());
  std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
    return a.size() != b.size() ? a.size() < b.size() : a < b;
  });
  std::vector<UsbDisk> disks;
  for (const std::string& name : names) {
    if (auto disk = DescribeDisk(root, name)) disks.push_back(std::move(*disk));
  }
  return disks;
}

bool MatchRecorderInstance(std::string_view instance_path, std::string* device_id) {
  // Upper case first: every comparison below then ignores case.
  std::string text(instance_path.substr(0, kInstancePathMax));
  for (char& c : text) c = Upper(c);
  const size_t slash = text.find('\\');
  if (slash == std::string::npos || std::string_view(text).substr(0, slash) != "USBSTOR") return false;
  const size_t a1 = text.find('&', slash);
  if (a1 == std::string::npos) return false;
  const size_t a2 = text.find('&', a1 + 2);
  if (a2 == std::string::npos) return false;
  const size_t a3 = text.find('&', a2 + 2);
  if (a3 == std::string::npos) return false;
  const std::string_view vendor = std::string_view(text).substr(a1 + 1, a2 - a1 - 1);
  const std::string_view product = std::string_view(text).substr(a2 + 1, a3 - a2 - 1);
  if (vendor != "VEN_KVB" && vendor != "VEN_DOVRA") return false;  // "Ven_KVB", "Ven_Dovra"
  if (product != "PROD_BELVANIX") return false;                    // "Prod_Belvanix"
  const size_t id_start = text.find('\\', a3);
  if (id_start == std::string::npos) return false;
  const size_t id_end = text.find('&', id_start + 1);
  *device_id =
      text.substr(id_start + 1, id_end == std::string::npos ? std::string::npos : id_end - id_start - 1);
  return true;
}

std::vector<RecorderEntry> FindRecorders(const std::string& sysfs_root) {
  std::vector<RecorderEntry> found;
  for (UsbDisk& disk : ListUsbDisks(sysfs_root)) {
    std::string id;
    if (!MatchRecorderInstance(disk.instance_path, &id)) continue;
    found.push_back(RecorderEntry{disk.node, id, disk.instance_path, disk.vendor, disk.product});
  }
  return found;
}

std::optional<RecorderEntry> FindRecorderAt(const std::string& path, const std::string& sysfs_root) {
  struct stat target {};
  if (::stat(path.c_str(), &target) != 0) return std::nullopt;
  for (RecorderEntry& entry : FindRecorders(sysfs_root)) {
    struct stat st {};
    if (::stat(entry.node.c_str(), &st) != 0 || (st.st_mode & S_IFMT) != (target.st_mode & S_IFMT)) continue;
    const bool same = S_ISBLK(st.st_mode) ? st.st_rdev == target.st_rdev
                                          : st.st_dev == target.st_dev && st.st_ino == target.st_ino;
    if (same) return std::move(entry);
  }
  return std::nullopt;
}

Status CheckRecorderDevice(const std::string& path, const std::string& sysfs_root) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return Error::Os(errno, path);
  if (S_ISREG(st.st_mode)) {
    // Only the stand-in's own mount type qualifies: a file that another FUSE
    // file system serves is someone's data.
    const std::string type = MountTypeOf(st.st_dev);
    if (type == std::string("fuse.") + kStandInSubtype) return {};
    if (type.rfind("fuse", 0) == 0)
      return Error::Code(kErrorBadDevice,
                         "a file on a " + type + " file system, not a served stand-in recorder's disk");
    return Error::Code(kErrorBadDevice, "a plain file, not a served stand-in recorder's disk");
  }
  if (!S_ISBLK(st.st_mode))
    return Error::Code(kErrorBadDevice, "neither a disk nor a stand-in recorder's disk");
  const std::string dev = std::to_string(major(st.st_rdev)) + ":" + std::to_string(minor(st.st_rdev));
  for (const UsbDisk& disk : ListUsbDisks(sysfs_root)) {
    if (disk.dev != dev) continue;
    std::string id;
    if (MatchRecorderInstance(disk.instance_path, &id)) return {};
    return Error::Code(kErrorBadDevice, "a USB disk of vendor \"" + disk.vendor + "\" and product \"" +
                                            disk.product + "\", not a recorder");
  }
  // Partitions, internal disks, loop devices: nothing the scanner lists.
  return Error::Code(kErrorBadDevice, "not a whole USB disk");
}

}  // namespace lyr
