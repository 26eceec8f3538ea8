#pragma once
#include <atomic>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>

#include "emulator/recorder_emulator.h"
#include "emulator/sysfs_publisher.h"
#include "platform/result.h"

namespace lyr_emu {

// The served disk as a USB disk in a sysfs tree, with a hand on its plug:
// SIGUSR1 pulls it out (the tree loses the disk and every transfer fails),
// SIGUSR2 plugs it back in. Each change is announced on stdout.
class SysfsPlug {
 public:
  // Blocks SIGUSR1 and SIGUSR2 in the calling thread, so that the threads it
  // starts afterwards (FUSE's among them) leave them to the plug's thread.
  SysfsPlug(RecorderEmulator& emulator, std::filesystem::path root, PublishedDisk disk);
  ~SysfsPlug();
  SysfsPlug(const SysfsPlug&) = delete;
  SysfsPlug& operator=(const SysfsPlug&) = delete;

  // Publishes the disk and starts listening for the plug signals.
  lyr::Status Start();
  // Stops listening and takes the disk out of the tree.
  void Stop();

 private:
  lyr::Status Plug();
  void Unplug();
  void SignalLoop();

  RecorderEmulator& emulator_;
  std::filesystem::path root_;
  PublishedDisk disk_;
  std::mutex mutex_;
  std::string name_;  // the disk's name while plugged in
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

}  // namespace lyr_emu
