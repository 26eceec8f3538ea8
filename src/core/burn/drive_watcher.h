#pragma once
// Tells its owner when an optical drive (a block device named sr*) arrives
// or leaves, so that the drive list is scanned again. The real /sys is
// watched with a udev monitor; any other folder (tests, a fake tree) with
// inotify on its block folder. The report runs on the watcher's thread: the
// owner hands it to its own thread, which runs ScanBurnerDrives.
#include <atomic>
#include <functional>
#include <string>
#include <string_view>
#include <thread>

namespace lyr::burn {

// Whether a block device name is an optical drive's ("sr0", not "sda").
bool IsOpticalDriveName(std::string_view name);

class OpticalDriveWatcher {
 public:
  using Report = std::function<void()>;

  explicit OpticalDriveWatcher(std::string sysfs_root = "/sys");
  ~OpticalDriveWatcher();  // Stop
  OpticalDriveWatcher(const OpticalDriveWatcher&) = delete;
  OpticalDriveWatcher& operator=(const OpticalDriveWatcher&) = delete;

  // 1 when the watcher runs, 0 when no monitor could be had.
  int Start(Report report);
  void Stop();  // wakes the thread and joins it

 private:
  void ThreadMain(int monitor_fd, void* monitor);

  std::string root_;
  Report report_;
  int wake_fd_ = -1;
  int inotify_fd_ = -1;
  void* udev_ = nullptr;
  void* monitor_ = nullptr;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

}  // namespace lyr::burn
