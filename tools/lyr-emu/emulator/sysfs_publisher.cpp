#include "emulator/sysfs_publisher.h"

#include <fstream>
#include <system_error>

namespace lyr_emu {
namespace {

namespace fs = std::filesystem;

lyr::Status WriteAttribute(const fs::path& path, const std::string& value) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << value << '\n';
  if (!out.flush()) return lyr::Error::Code(lyr::kErrorIoDevice, "cannot write " + path.string());
  return {};
}

// SCSI identification fields are fixed-width and blank-padded.
std::string Padded(const std::string& text, size_t width) {
  std::string out = text.substr(0, width);
  out.resize(width, ' ');
  return out;
}

std::string FreeName(const fs::path& root) {
  std::error_code ec;
  for (char c = 'a'; c <= 'z'; ++c) {
    const std::string name = std::string("sd") + c;
    if (!fs::exists(fs::symlink_status(root / "block" / name, ec))) return name;
  }
  return {};
}

}  // namespace

lyr::Result<std::string> PublishDisk(const fs::path& root, const PublishedDisk& disk) {
  std::error_code ec;
  const std::string name = disk.name.empty() ? FreeName(root) : disk.name;
  if (name.empty() || name.find('/') != std::string::npos)
    return lyr::Error::Code(lyr::kErrorInvalidParameter, "no free disk name in " + root.string());
  const fs::path link = root / "block" / name;
  if (fs::exists(fs::symlink_status(link, ec)))
    return lyr::Error::Code(lyr::kErrorAlreadyExists, link.string() + " exists already");
  // One controller port per disk, so that disks never share a device folder.
  const fs::path controller =
      disk.usb ? root / "devices/pci0000:00/0000:00:14.0/usb1" : root / "devices/pci0000:00/0000:00:1f.2";
  int port = 1;
  while (fs::exists(controller / ((disk.usb ? "1-" : "ata") + std::to_string(port)), ec)) ++port;
  const std::string port_name = (disk.usb ? "1-" : "ata") + std::to_string(port);
  const fs::path port_dir = controller / port_name;
  const std::string host = std::to_string(port + 5);
  const fs::path scsi_parent = disk.usb ? port_dir / (port_name + ":1.0") : port_dir;
  const std::string scsi_name = host + ":0:0:0";
  const fs::path scsi = scsi_parent / ("host" + host) / ("target" + host + ":0:0") / scsi_name;
  const fs::path block = scsi / "block" / name;

  fs::create_directories(block, ec);
  if (ec)
    return lyr::Error::Code(lyr::kErrorPathNotFound, "cannot create " + block.string() + ": " + ec.message());
  if (disk.usb) {
    LYR_TRY(WriteAttribute(port_dir / "idVendor", "1a2b"));
    LYR_TRY(WriteAttribute(port_dir / "idProduct", "0c01"));
    if (!disk.serial.empty()) LYR_TRY(WriteAttribute(port_dir / "serial", disk.serial));
  }
  LYR_TRY(WriteAttribute(scsi / "vendor", Padded(disk.vendor, 8)));
  LYR_TRY(WriteAttribute(scsi / "model", Padded(disk.model, 16)));
  LYR_TRY(WriteAttribute(scsi / "rev", Padded(disk.revision, 4)));
  const fs::path node = disk.node.is_absolute() ? disk.node : fs::absolute(disk.node, ec);
  LYR_TRY(WriteAttribute(block / "uevent", "MAJOR=8\nMINOR=16\nDEVNAME=" + node.string() + "\nDEVTYPE=disk"));
  LYR_TRY(WriteAttribute(block / "dev", "8:16"));
  fs::create_directory_symlink("../../../" + scsi_name, block / "device", ec);
  if (!ec) {
    fs::create_directories(root / "block", ec);
    fs::create_directory_symlink(fs::path("..") / block.lexically_relative(root), link, ec);
  }
  if (ec) {
    lyr::Error error =
        lyr::Error::Code(lyr::kErrorIoDevice, "cannot link " + link.string() + ": " + ec.message());
    fs::remove_all(port_dir, ec);
    return error;
  }
  return name;
}

bool UnpublishDisk(const fs::path& root, const std::string& name) {
  std::error_code ec;
  const fs::path link = root / "block" / name;
  if (name.empty() || name.find('/') != std::string::npos || !fs::is_symlink(link, ec)) return false;
  // The port folder that holds this disk: from the link's target, the folder
  // right below the controller.
  const fs::path target = fs::weakly_canonical(link, ec);
  fs::remove(link, ec);
  if (ec) return false;
  const fs::path devices = fs::weakly_canonical(root / "devices", ec);
  fs::path port;
  for (fs::path p = target; p.has_relative_path() && p != devices; p = p.parent_path()) {
    const std::string leaf = p.filename().string();
    if (leaf.rfind("1-", 0) == 0 && leaf.find(':') == std::string::npos) port = p;
    if (leaf.rfind("ata", 0) == 0) port = p;
  }
  if (!port.empty()) fs::remove_all(port, ec);
  return true;
}

}  // namespace lyr_emu
