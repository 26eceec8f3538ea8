#pragma once
#include <functional>
#include <string>

#include "emulator/recorder_emulator.h"

namespace lyr_emu {

struct ServeOptions {
  std::string mount_dir;
  bool allow_other = false;
  // Called once the file is served (mounted), and once before it goes away.
  std::function<void()> on_mounted;
  std::function<void()> on_unmounting;
};

// Serves the recorder's raw disk as MOUNTDIR/disk through FUSE with direct I/O
// until SIGINT or SIGTERM. Returns the process exit status.
int ServeDisk(RecorderEmulator& emulator, const ServeOptions& options);

}  // namespace lyr_emu
