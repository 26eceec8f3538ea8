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

lyr::Status SysfsPlug::Start() {
  LYR_TRY(Plug());
  stop_ = false;
  thread_ = std::thread(&SysfsPlug::SignalLoop, this);
  return {};
}

void SysfsPlug::Stop() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
  Unplug();
}

lyr::Status SysfsPlug::Plug() {
  std::lock_guard lock(mutex_);
  if (!name_.empty()) return {};
  LYR_TRY_ASSIGN(name_, PublishDisk(root_, disk_));
  emulator_.SetConnected(true);
  std::printf("plugged in as %s in %s\n", name_.c_str(), root_.c_str());
  std::fflush(stdout);
  return {};
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
      const lyr::Status plugged = Plug();
      if (!plugged) std::fprintf(stderr, "lyr-emu: %s\n", plugged.error().context.c_str());
    }
  }
}

}  // namespace lyr_emu
