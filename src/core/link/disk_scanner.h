#pragma once
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/result.h"

namespace lyr {

// The sysfs tree the scanner walks: LYR_SYSFS_ROOT when set and not empty,
// else "/sys". Tests and the stand-in recorder use trees of their own.
std::string DefaultSysfsRoot();

// One disk on the USB bus, described the way the Windows disk enumeration
// names it, so that one matching rule serves every platform.
struct UsbDisk {
  std::string name;           // block device name, "sdb"
  std::string instance_path;  // USBSTOR\DISK&VEN_<vendor>&PROD_<product>&REV_<rev>\<serial>&0
  std::string node;           // device node to open
  std::string vendor;         // SCSI vendor, model and revision as shown in the instance path
  std::string product;
  std::string revision;
  std::string serial;
  std::string dev;  // "major:minor" from ROOT/block/<name>/dev; empty when absent
};

// Walks ROOT/block: every whole disk whose SCSI device sits below a USB
// device. Vendor, model and revision come from the SCSI device's attributes,
// the serial from the USB device's "serial" (the USB device's own name when
// it has none or an unusable one). The device node is named by DEVNAME in
// ROOT/block/<name>/uevent: an absolute DEVNAME is taken as it is (a fake
// tree names the file that stands in for the disk this way), a relative one
// lies below /dev; without DEVNAME the node is /dev/<name>. Disks with
// missing or unreadable attributes are left out. Ordered by name (sdb
// before sdc before sdaa).
std::vector<UsbDisk> ListUsbDisks(const std::string& sysfs_root);

// The recorder test on an instance path: bus word "USBSTOR", vendor word
// "Ven_KVB" or "Ven_Dovra", product word "Prod_Belvanix", case ignored. On a
// match `device_id` receives the serial part (upper case, up to its '&').
bool MatchRecorderInstance(std::string_view instance_path, std::string* device_id);

// One recorder found: where it is and who it is.
struct RecorderEntry {
  std::string node;
  std::string device_id;
  std::string instance_path;
  std::string vendor;
  std::string product;
};

// The recorders among the USB disks, in disk order.
std::vector<RecorderEntry> FindRecorders(const std::string& sysfs_root);

// The recorder at `path` however it is spelt (relative, through a symlink
// such as /dev/disk/by-id/...): the one whose node is the same device
// (block devices by device number, files by file identity). Nothing when no
// recorder found in the tree is that device.
std::optional<RecorderEntry> FindRecorderAt(const std::string& path, const std::string& sysfs_root);

// The FUSE subtype the stand-in recorder serves its disk under: the mount
// table shows its file system as "fuse.lyr-emu". Other FUSE file systems
// (ntfs-3g, sshfs, exfat-fuse) hold plain files.
inline constexpr const char* kStandInSubtype = "lyr-emu";

// The test discovery applies, for a device named by the user before anything
// is written to it: a block device must be a whole USB disk that the tree at
// `sysfs_root` shows with a recorder's vendor and product (found by its
// device number); a regular file must be a served stand-in's disk, a file on
// a mount whose type is the stand-in's own (found in /proc/self/mountinfo by
// the file's device number). Anything else fails with kErrorBadDevice and a
// context that says what the device is instead; a device that cannot be
// examined fails with its errno.
Status CheckRecorderDevice(const std::string& path, const std::string& sysfs_root);

}  // namespace lyr
