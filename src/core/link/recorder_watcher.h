#pragma once
#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "link/disk_scanner.h"
#include "link/recorder_link.h"
#include "platform/result.h"

namespace lyr {

// What the watcher tells the main frame with its message 0x8015: whether a
// recorder is connected, and the status of the attempt.
inline constexpr int kConnectionChangedMessage = 0x8015;
inline constexpr int kStatusNone = 0;         // no recorder usable, nothing failed
inline constexpr int kStatusOpenFailed = -1;  // the recorder's drive could not be opened

struct WatcherOptions {
  std::string sysfs_root;  // empty: DefaultSysfsRoot()
  // A change is scanned once the disks have been quiet this long; a stream
  // of changes that never settles is scanned after max_settle_rounds.
  std::chrono::milliseconds settle{300};
  int max_settle_rounds = 1000;
};

// Finds the recorder among the USB disks, keeps its drive open through the
// link, and reports every change of connection. The real /sys is watched with
// a udev monitor, any other tree with inotify on its block folder; NotifyChange
// raises a change by hand. The application owns one; tests make their own.
class RecorderWatcher {
 public:
  // Called on the watcher thread with (connected, status): (1, 0) a recorder
  // is linked, (0, kStatusNone) none is, (0, kStatusOpenFailed) its drive
  // could not be opened. The receiver hands it to its own thread; it must not
  // call back into the watcher.
  using Report = std::function<void(int connected, int status)>;

  RecorderWatcher(RecorderLink& link, WatcherOptions options = {});
  ~RecorderWatcher();  // StopWatcher
  RecorderWatcher(const RecorderWatcher&) = delete;
  RecorderWatcher& operator=(const RecorderWatcher&) = delete;

  // Clears the discovery and link state and starts the watcher thread, which
  // scans at once. 1 when it runs, 0 when it could not be started.
  int StartWatcher(Report report);
  // Ends the thread promptly and waits for it; then closes the drive.
  void StopWatcher();
  // A change of the disks, for trees no monitor watches (or tests).
  void NotifyChange();

  // Safely Remove: closes the linked recorder's drive (other programs may use
  // it now) and leaves it closed while it stays plugged in; it is linked
  // again once plugged in anew, or after Reconnect. No report follows.
  void ReleaseDrive();
  // Whether a released recorder is still plugged in.
  bool IsReleased() const;
  // Links a released recorder again (with the thread: at its next scan).
  void Reconnect();

  // The scan step of the thread, callable directly when no thread runs:
  // 0 nothing to report, 1 report "no recorder" with `status`, 2 report
  // "connected".
  int ScanRecorders(int& status);
  // 0 linked, -1 the drive did not open, -2 no such entry.
  int ConnectRecorder(size_t index);

  // The recorder in use: its device id when linked, else empty.
  std::string GetDeviceId() const;
  std::string CurrentNode() const;
  bool IsLinked() const;
  std::vector<RecorderEntry> Recorders() const;
  const std::string& SysfsRoot() const { return root_; }

 private:
  class ChangeSource;
  void ThreadMain();
  void Unlink();
  void RunScan();

  RecorderLink& link_;
  WatcherOptions options_;
  std::string root_;
  Report report_;

  mutable std::mutex state_mutex_;  // the discovery state below
  std::vector<RecorderEntry> recorders_;
  std::string current_device_id_;
  std::string current_node_;  // empty when none
  bool linked_ = false;
  // The recorder Safely Remove let go, as "device id|node"; empty: none.
  std::string released_;
  // One scan or release at a time: a release never races an open.
  std::mutex scan_mutex_;

  int wake_fd_ = -1;  // eventfd: stop request or a change raised by hand
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// StartWatcher as the programs call it.
inline Status StartWatcher(RecorderWatcher& watcher, RecorderWatcher::Report report) {
  return CallWithLastError([&] { return watcher.StartWatcher(std::move(report)) != 0; }, "recorder watcher");
}

}  // namespace lyr
