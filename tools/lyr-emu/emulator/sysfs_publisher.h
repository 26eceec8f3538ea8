#pragma once
#include <filesystem>
#include <string>

#include "platform/result.h"

namespace lyr_emu {

// A disk as a sysfs tree shows it, for publishing the stand-in recorder (or
// any other disk, for tests) where the manager's scanner looks.
struct PublishedDisk {
  std::string name;  // block device name; empty: the first free "sdX"
  std::string vendor = "KVB";
  std::string model = "Belvanix";
  std::string revision = "1.00";
  std::string serial = "LYR0000001";  // empty: the USB device has no serial attribute
  std::filesystem::path node;         // the file that stands in for the disk
  bool usb = true;                    // false: a disk on an ATA controller
};

// Publishes the disk in the tree at `root` the way the kernel lays out a USB
// mass-storage disk:
//   ROOT/devices/pci0000:00/0000:00:14.0/usb1/1-N/{idVendor,idProduct,serial}
//   .../1-N/1-N:1.0/hostH/targetH:0:0/H:0:0:0/{vendor,model,rev}
//   .../H:0:0:0/block/NAME/{uevent,dev}, NAME/device -> ../../../H:0:0:0
//   ROOT/block/NAME -> ../devices/.../block/NAME
// The uevent names the node with an absolute DEVNAME. The ROOT/block link is
// made last, so a scanner never sees half a disk. Returns the name used.
lyr::Result<std::string> PublishDisk(const std::filesystem::path& root, const PublishedDisk& disk);

// Takes the disk out of the tree: the ROOT/block link first, then its device
// folders. False when it was not there.
bool UnpublishDisk(const std::filesystem::path& root, const std::string& name);

}  // namespace lyr_emu
