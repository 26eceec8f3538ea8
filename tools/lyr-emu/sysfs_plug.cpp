#include "sysfs_plug.h"

#include <signal.h>

#include <cerrno>
#include <cstdio>
#include <ctime>

namespace lyr_emu {
namespace {

sigset_t PlugSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGUSR1);
  sigaddset(&set, SIGUSR2);
  return set;
}

}  // namespace

SysfsPlug::SysfsPlug(RecorderEmulator& emulator, std::filesystem::path root, PublishedDisk disk)
    : emulator_(emulator), root_(std::move(root)), disk_(std::move(disk)) {
  const sigset_t set = PlugSignals();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

SysfsPlug::~SysfsPlug() { Stop(); }

bool SysfsPlug::Start(std::string* error) {
  if (!Plug(error)) return false;
  stop_ = false;
  thread_ = std::thread(&SysfsPlug::SignalLoop, this);
  return true;
}

void SysfsPlug::Stop() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
  Unplug();
}

bool SysfsPlug::Plug(std::string* error) {
  std::lock_guard lock(mutex_);
  if (!name_.empty()) return true;
  name_ = PublishDisk(root_, disk_, error);
  if (name_.empty()) return false;
  emulator_.SetConnected(true);
  std::printf("plugged in as %s in %s\n", name_.c_str(), root_.c_str());
  std::fflush(stdout);
  return true;
}

void SysfsPlug::Unplug() {
  std::lock_guard lock(mutex_);
  if (name_.empty()) return;
  emulator_.SetConnected(false);
  UnpublishDisk(root_, name_);
  std::printf("unplugged %s\n", name_.c_str());
  std::fflush(stdout);
  name_.clear();
}

void SysfsPlug::SignalLoop() {
  const sigset_t set = PlugSignals();
  const timespec slice{0, 200 * 1000 * 1000};  // stop requests are seen within this
  while (!stop_) {
    const int sig = sigtimedwait(&set, nullptr, &slice);
    if (sig == SIGUSR1) {
      Unplug();
    } else if (sig == SIGUSR2) {
      std::string error;
      if (!Plug(&error)) std::fprintf(stderr, "lyr-emu: %s\n", error.c_str());
    }
  }
}

}  // namespace lyr_emu
