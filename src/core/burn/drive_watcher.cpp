#include "burn/drive_watcher.h"

#include <libudev.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <system_error>

#include "platform/trace.h"

namespace lyr::burn {

bool IsOpticalDriveName(std::string_view name) {
  if (name.size() < 3 || name.substr(0, 2) != "sr") return false;
  for (char c : name.substr(2))
    if (c < '0' || c > '9') return false;
  return true;
}

OpticalDriveWatcher::OpticalDriveWatcher(std::string sysfs_root) : root_(std::move(sysfs_root)) {}

OpticalDriveWatcher::~OpticalDriveWatcher() { Stop(); }

int OpticalDriveWatcher::Start(Report report) {
  if (thread_.joinable()) return 1;
  wake_fd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (wake_fd_ < 0) return 0;
  std::error_code ec;
  int fd = -1;
  if (std::filesystem::canonical(root_, ec) == "/sys" && !ec) {
    udev* u = udev_new();
    // Without a udev daemon nobody relays the kernel's events.
    const char* source = ::access("/run/udev/control", F_OK) == 0 ? "udev" : "kernel";
    udev_monitor* m = u != nullptr ? udev_monitor_new_from_netlink(u, source) : nullptr;
    if (m != nullptr && udev_monitor_filter_add_match_subsystem_devtype(m, "block", "disk") >= 0 &&
        udev_monitor_enable_receiving(m) >= 0) {
      fd = udev_monitor_get_fd(m);
      monitor_ = m;
    } else if (m != nullptr) {
      udev_monitor_unref(m);
    }
    udev_ = u;
  } else {
    inotify_fd_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    const std::string block = root_ + "/block";
    if (inotify_fd_ >= 0 && ::inotify_add_watch(inotify_fd_, block.c_str(),
                                                IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO) >= 0)
      fd = inotify_fd_;
  }
  if (fd < 0) {
    Stop();
    return 0;
  }
  report_ = std::move(report);
  stop_ = false;
  try {
    thread_ = std::thread(&OpticalDriveWatcher::ThreadMain, this, fd, monitor_);
  } catch (const std::system_error&) {
    Stop();
    return 0;
  }
  return 1;
}

void OpticalDriveWatcher::Stop() {
  if (thread_.joinable()) {
    stop_ = true;
    const uint64_t one = 1;
    while (::write(wake_fd_, &one, sizeof one) < 0 && errno == EINTR) {
    }
    thread_.join();
  }
  if (monitor_ != nullptr) udev_monitor_unref(static_cast<udev_monitor*>(monitor_));
  if (udev_ != nullptr) udev_unref(static_cast<udev*>(udev_));
  monitor_ = udev_ = nullptr;
  if (inotify_fd_ >= 0) ::close(inotify_fd_);
  if (wake_fd_ >= 0) ::close(wake_fd_);
  inotify_fd_ = wake_fd_ = -1;
}

void OpticalDriveWatcher::ThreadMain(int fd, void* monitor) {
  while (!stop_) {
    pollfd fds[2] = {{wake_fd_, POLLIN, 0}, {fd, POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (stop_) return;
    if (!(fds[1].revents & POLLIN)) continue;
    bool optical = false;
    if (monitor != nullptr) {
      while (udev_device* dev = udev_monitor_receive_device(static_cast<udev_monitor*>(monitor))) {
        const char* name = udev_device_get_sysname(dev);
        const char* action = udev_device_get_action(dev);
        const std::string_view act = action != nullptr ? action : "";
        if (name != nullptr && IsOpticalDriveName(name) && (act == "add" || act == "remove")) optical = true;
        udev_device_unref(dev);
      }
    } else {
      alignas(inotify_event) char buffer[4096];
      for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;) {
        for (ssize_t off = 0; off + static_cast<ssize_t>(sizeof(inotify_event)) <= n;) {
          const auto* ev = reinterpret_cast<const inotify_event*>(buffer + off);
          if (ev->len > 0 && IsOpticalDriveName(ev->name)) optical = true;
          off += static_cast<ssize_t>(sizeof(inotify_event) + ev->len);
        }
      }
    }
    if (optical) {
      Trace("burn: an optical drive arrived or left\n");
      if (report_) report_();
    }
  }
}

}  // namespace lyr::burn
