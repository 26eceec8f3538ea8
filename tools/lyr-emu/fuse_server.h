#pragma once
#include <functional>
#include <string>

#include "emulator/recorder_emulator.h"

namespace lyr_emu {

struct ServeOptions {
  std::string mount_dir;
  bool allow_other = false;
  // Called once the file is served (mounted); false ends serving at once
  // with a failure.
  std::function<bool()> on_mounted;
  // Called once before the file goes away.
  std::function<void()> on_unmounting;
};

// Serves the recorder's raw disk as MOUNTDIR/disk through FUSE with direct I/O
// until SIGINT, SIGTERM or SIGHUP, which end it at once, even while a reply
// is held back or a client waits. Returns the process exit status.
int ServeDisk(RecorderEmulator& emulator, const ServeOptions& options);

}  // namespace lyr_emu
