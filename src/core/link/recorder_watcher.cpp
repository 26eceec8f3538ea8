#include "link/recorder_watcher.h"

#include <libudev.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <system_error>

#include "platform/trace.h"

namespace lyr {

namespace fs = std::filesystem;

// Tells the watcher thread that the disks may have changed: a udev monitor
// for the real /sys, inotify on the block folder of any other tree, and, where
// neither can be had, a comparison of the block folder's listing once a second.
class RecorderWatcher::ChangeSource {
 public:
  explicit ChangeSource(const std::string& root) : block_dir_(fs::path(root) / "block") {
    std::error_code ec;
    if (fs::canonical(root, ec) == "/sys" && !ec) {
      OpenUdev();
    } else {
      inotify_fd_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
      if (inotify_fd_ >= 0 &&
          ::inotify_add_watch(inotify_fd_, block_dir_.c_str(),
                              IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_ATTRIB |
                                  IN_CLOSE_WRITE | IN_DELETE_SELF | IN_MOVE_SELF) < 0) {
        ::close(inotify_fd_);
        inotify_fd_ = -1;
      }
    }
    if (fd() < 0) {
      Trace("watcher: no monitor for %s, polling its listing\n", block_dir_.c_str());
      listing_ = Listing();
    }
  }
  ~ChangeSource() {
    if (monitor_ != nullptr) udev_monitor_unref(monitor_);
    if (udev_ != nullptr) udev_unref(udev_);
    if (inotify_fd_ >= 0) ::close(inotify_fd_);
  }
  ChangeSource(const ChangeSource&) = delete;
  ChangeSource& operator=(const ChangeSource&) = delete;

  int fd() const {
    if (monitor_ != nullptr) return udev_monitor_get_fd(monitor_);
    return inotify_fd_;
  }

  // Consumes what the monitor has queued.
  void Drain() {
    if (monitor_ != nullptr) {
      while (udev_device* dev = udev_monitor_receive_device(monitor_)) udev_device_unref(dev);
      return;
    }
    if (inotify_fd_ < 0) return;
    alignas(inotify_event) char buffer[4096];
    bool lost = false;
    for (;;) {
      const ssize_t n = ::read(inotify_fd_, buffer, sizeof buffer);
      if (n <= 0) break;
      for (ssize_t off = 0; off + static_cast<ssize_t>(sizeof(inotify_event)) <= n;) {
        const auto* ev = reinterpret_cast<const inotify_event*>(buffer + off);
        if (ev->mask & (IN_IGNORED | IN_DELETE_SELF | IN_MOVE_SELF)) lost = true;
        off += static_cast<ssize_t>(sizeof(inotify_event) + ev->len);
      }
    }
    if (lost) {
      // The folder itself went away: fall back to comparing listings.
      ::close(inotify_fd_);
      inotify_fd_ = -1;
      listing_ = Listing();
    }
  }

  // For the listing fallback: true when the block folder changed.
  bool ListingChanged() {
    if (fd() >= 0) return false;
    std::vector<std::string> now = Listing();
    if (now == listing_) return false;
    listing_ = std::move(now);
    return true;
  }

 private:
  void OpenUdev() {
    udev_ = udev_new();
    if (udev_ == nullptr) return;
    // Without a udev daemon nobody relays the kernel's events.
    const char* source = ::access("/run/udev/control", F_OK) == 0 ? "udev" : "kernel";
    monitor_ = udev_monitor_new_from_netlink(udev_, source);
    if (monitor_ == nullptr ||
        udev_monitor_filter_add_match_subsystem_devtype(monitor_, "block", "disk") < 0 ||
        udev_monitor_enable_receiving(monitor_) < 0) {
      if (monitor_ != nullptr) udev_monitor_unref(monitor_);
      monitor_ = nullptr;
    }
  }

  std::vector<std::string> Listing() const {
    std::vector<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(block_dir_, ec), end; !ec && it != end; it.increment(ec)) {
      std::error_code target_ec;
      names.push_back(it->path().filename().string() + "->" +
                      fs::read_symlink(it->path(), target_ec).string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  fs::path block_dir_;
  udev* udev_ = nullptr;
  udev_monitor* monitor_ = nullptr;
  int inotify_fd_ = -1;
  std::vector<std::string> listing_;
};

namespace {

enum class Wake { Stop, Change, Timeout };
constexpr std::chrono::milliseconds kListingPoll{1000};

}  // namespace

RecorderWatcher::RecorderWatcher(RecorderLink& link, WatcherOptions options)
    : link_(link), options_(std::move(options)) {
  root_ = options_.sysfs_root.empty() ? DefaultSysfsRoot() : options_.sysfs_root;
  wake_fd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
}

RecorderWatcher::~RecorderWatcher() {
  StopWatcher();
  if (wake_fd_ >= 0) ::close(wake_fd_);
}

int RecorderWatcher::StartWatcher(Report report) {
  if (thread_.joinable()) return 1;
  if (wake_fd_ < 0) return 0;
  {
    std::lock_guard lock(state_mutex_);
    current_device_id_.clear();
    current_node_.clear();
    linked_ = false;
    recorders_.clear();
  }
  link_.ResetLinkState();
  uint64_t drained;
  while (::read(wake_fd_, &drained, sizeof drained) > 0) {
  }
  stop_ = false;
  report_ = std::move(report);
  try {
    thread_ = std::thread(&RecorderWatcher::ThreadMain, this);
  } catch (const std::system_error&) {
    return 0;
  }
  return 1;
}

void RecorderWatcher::StopWatcher() {
  const bool was_running = thread_.joinable();
  if (was_running) {
    stop_ = true;
    const uint64_t one = 1;
    while (::write(wake_fd_, &one, sizeof one) < 0 && errno == EINTR) {
    }
    thread_.join();
  }
  if (was_running || IsLinked()) Unlink();
}

void RecorderWatcher::NotifyChange() {
  if (wake_fd_ < 0) return;
  const uint64_t one = 1;
  while (::write(wake_fd_, &one, sizeof one) < 0 && errno == EINTR) {
  }
}

void RecorderWatcher::ThreadMain() {
  ChangeSource source(root_);
  // Waits for a stop request, a change, or the timeout (negative: none).
  auto wait = [&](std::chrono::milliseconds timeout) {
    for (;;) {
      pollfd fds[2] = {{wake_fd_, POLLIN, 0}, {source.fd(), POLLIN, 0}};
      const bool listing = source.fd() < 0;
      std::chrono::milliseconds slice = timeout;
      if (listing && (slice.count() < 0 || slice > kListingPoll)) slice = kListingPoll;
      const int n = ::poll(fds, listing ? 1 : 2, static_cast<int>(slice.count()));
      if (n < 0 && errno == EINTR) continue;
      if (stop_) return Wake::Stop;
      if (n > 0) {
        bool change = false;
        if (fds[0].revents & POLLIN) {
          uint64_t count;
          change = ::read(wake_fd_, &count, sizeof count) > 0;
        }
        if (!listing && fds[1].revents) {
          source.Drain();
          change = true;
        }
        if (change) return Wake::Change;
        continue;
      }
      if (listing && source.ListingChanged()) return Wake::Change;
      if (timeout.count() >= 0) {
        timeout -= slice;
        if (timeout.count() <= 0) return Wake::Timeout;
      }
    }
  };

  RunScan();  // a recorder plugged in before the start is found at once
  while (!stop_) {
    if (wait(std::chrono::milliseconds(-1)) == Wake::Stop) return;
    // Let the disks settle: scan once nothing has changed for a while.
    for (int round = 0; round < options_.max_settle_rounds; ++round) {
      const Wake w = wait(options_.settle);
      if (w == Wake::Stop) return;
      if (w == Wake::Timeout) break;
    }
    RunScan();
  }
}

void RecorderWatcher::RunScan() {
  int status = kStatusNone;
  const int result = ScanRecorders(status);
  if (!report_) return;
  if (result == 1) report_(0, status);
  if (result == 2) report_(1, 0);
}

void RecorderWatcher::Unlink() {
  link_.CloseDrive();
  {
    std::lock_guard lock(state_mutex_);
    linked_ = false;
  }
  link_.SetRecorderRefused(true);
  link_.SetAccessGranted(false);
  link_.SetDriveOpen(false);
}

void RecorderWatcher::ReleaseDrive() {
  std::lock_guard scan(scan_mutex_);
  if (!IsLinked()) return;
  Unlink();
  std::lock_guard lock(state_mutex_);
  released_ = current_device_id_ + "|" + current_node_;
  Trace("watcher: recorder %s released\n", current_device_id_.c_str());
}

bool RecorderWatcher::IsReleased() const {
  std::lock_guard lock(state_mutex_);
  return !released_.empty();
}

void RecorderWatcher::Reconnect() {
  {
    std::lock_guard lock(state_mutex_);
    released_.clear();
  }
  NotifyChange();
}

int RecorderWatcher::ScanRecorders(int& status) {
  status = kStatusNone;
  std::lock_guard scan(scan_mutex_);
  std::vector<RecorderEntry> found = FindRecorders(root_);
  std::string current_id, current_node;
  bool linked;
  bool released;
  {
    std::lock_guard lock(state_mutex_);
    recorders_ = found;
    current_id = current_device_id_;
    current_node = current_node_;
    linked = linked_;
    // A released recorder that left (or came back on another node) was
    // plugged in anew: it may be linked again.
    if (std::none_of(found.begin(), found.end(),
                     [&](const RecorderEntry& e) { return e.device_id + "|" + e.node == released_; }))
      released_.clear();
    released = !released_.empty();
  }
  if (released && !linked) return 0;

  if (found.empty()) {
    if (linked) {
      Unlink();
      Trace("watcher: recorder gone\n");
    }
    std::lock_guard lock(state_mutex_);
    current_device_id_.clear();
    current_node_.clear();
    return 1;
  }

  size_t index = 0;
  const auto same = std::find_if(found.begin(), found.end(), [&](const RecorderEntry& e) {
    return !current_id.empty() && e.device_id == current_id;
  });
  if (same != found.end()) {
    if (same->node == current_node && linked) return 0;
    index = static_cast<size_t>(same - found.begin());
  }
  switch (ConnectRecorder(index)) {
    case 0:
      return 2;
    case -1:
      status = kStatusOpenFailed;
      return 1;
    default:
      return 1;
  }
}

int RecorderWatcher::ConnectRecorder(size_t index) {
  if (IsLinked()) Unlink();
  RecorderEntry entry;
  {
    std::lock_guard lock(state_mutex_);
    if (index >= recorders_.size()) return -2;
    entry = recorders_[index];
    current_device_id_ = entry.device_id;
    current_node_ = entry.node;
  }
  Trace("watcher: opening recorder %s on %s\n", entry.device_id.c_str(), entry.node.c_str());
  if (link_.OpenLink(entry.node) == 0) {
    {
      std::lock_guard lock(state_mutex_);
      linked_ = true;
    }
    link_.SetDriveOpen(true);
    return 0;
  }
  Trace("watcher: %s did not open: %s\n", entry.node.c_str(), link_.OpenError().Message().c_str());
  link_.CloseDrive();  // a drive that opened but took no first block
  link_.SetRecorderRefused(true);
  link_.SetAccessGranted(false);
  link_.SetDriveOpen(false);
  std::lock_guard lock(state_mutex_);
  linked_ = false;
  current_device_id_.clear();
  current_node_.clear();
  return -1;
}

std::string RecorderWatcher::GetDeviceId() const {
  std::lock_guard lock(state_mutex_);
  return linked_ ? current_device_id_ : std::string();
}

std::string RecorderWatcher::CurrentNode() const {
  std::lock_guard lock(state_mutex_);
  return current_node_;
}

bool RecorderWatcher::IsLinked() const {
  std::lock_guard lock(state_mutex_);
  return linked_;
}

std::vector<RecorderEntry> RecorderWatcher::Recorders() const {
  std::lock_guard lock(state_mutex_);
  return recorders_;
}

}  // namespace lyr
