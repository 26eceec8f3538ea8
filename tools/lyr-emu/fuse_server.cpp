#define FUSE_USE_VERSION 31
#include "fuse_server.h"

#include <fcntl.h>
#include <fuse.h>
#include <fuse_lowlevel.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "link/disk_scanner.h"
#include "link/protocol.h"

namespace lyr_emu {
namespace {

constexpr const char* kDiskPath = "/disk";

RecorderEmulator* Emulator() { return static_cast<RecorderEmulator*>(fuse_get_context()->private_data); }

void* Init(fuse_conn_info* /*conn*/, fuse_config* cfg) {
  // Every read must reach the recorder: no page cache, no attribute games.
  cfg->direct_io = 1;
  cfg->kernel_cache = 0;
  cfg->auto_cache = 0;
  cfg->entry_timeout = 0;
  cfg->attr_timeout = 0;
  cfg->negative_timeout = 0;
  return fuse_get_context()->private_data;
}

int GetAttr(const char* path, struct stat* st, fuse_file_info* /*fi*/) {
  std::memset(st, 0, sizeof *st);
  if (std::strcmp(path, "/") == 0) {
    st->st_mode = S_IFDIR | 0755;
    st->st_nlink = 2;
    return 0;
  }
  if (std::strcmp(path, kDiskPath) == 0) {
    st->st_mode = S_IFREG | 0660;
    st->st_nlink = 1;
    st->st_size = static_cast<off_t>(lyr::protocol::kWindowEndByte);
    st->st_blksize = 512;
    return 0;
  }
  return -ENOENT;
}

int ReadDir(const char* path, void* buf, fuse_fill_dir_t filler, off_t /*offset*/, fuse_file_info* /*fi*/,
            fuse_readdir_flags /*flags*/) {
  if (std::strcmp(path, "/") != 0) return -ENOENT;
  filler(buf, ".", nullptr, 0, static_cast<fuse_fill_dir_flags>(0));
  filler(buf, "..", nullptr, 0, static_cast<fuse_fill_dir_flags>(0));
  filler(buf, kDiskPath + 1, nullptr, 0, static_cast<fuse_fill_dir_flags>(0));
  return 0;
}

int Open(const char* path, fuse_file_info* fi) {
  if (std::strcmp(path, kDiskPath) != 0) return -ENOENT;
  if (!Emulator()->connected()) return -ENXIO;
  fi->direct_io = 1;
  fi->keep_cache = 0;
  return 0;
}

int Read(const char* /*path*/, char* buf, size_t size, off_t offset, fuse_file_info* /*fi*/) {
  if (offset < 0) return -EINVAL;
  const uint64_t end = lyr::protocol::kWindowEndByte;
  if (static_cast<uint64_t>(offset) >= end) return 0;
  size = static_cast<size_t>(std::min<uint64_t>(size, end - static_cast<uint64_t>(offset)));
  size_t done = 0;
  if (!Emulator()->Read(static_cast<uint64_t>(offset), buf, size, &done)) return -EIO;
  return static_cast<int>(done);
}

int Write(const char* /*path*/, const char* buf, size_t size, off_t offset, fuse_file_info* /*fi*/) {
  if (offset < 0) return -EINVAL;
  if (static_cast<uint64_t>(offset) + size > lyr::protocol::kWindowEndByte) return -ENOSPC;
  size_t done = 0;
  if (!Emulator()->Write(static_cast<uint64_t>(offset), buf, size, &done)) return -EIO;
  return static_cast<int>(done);
}

int Truncate(const char* /*path*/, off_t /*size*/, fuse_file_info* /*fi*/) { return 0; }

// SIGINT, SIGTERM and SIGHUP, taken by a thread of their own, so that a stop
// is seen whatever the request loop is doing (waiting out a slow reply
// among others): the recorder is shut down, which lets go of that reply,
// and the loop is woken to end.
class StopSignals {
 public:
  // Blocks the signals in the calling thread; threads started afterwards
  // inherit that, and the signals are left to the watcher.
  explicit StopSignals(RecorderEmulator& emulator) : emulator_(emulator) {
    // A background start from a script leaves SIGINT ignored: stopping must
    // always work.
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) std::signal(sig, SIG_DFL);
    std::signal(SIGPIPE, SIG_IGN);
    sigemptyset(&signals_);
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&signals_, sig);
    pthread_sigmask(SIG_BLOCK, &signals_, &original_);
    signal_fd_ = ::signalfd(-1, &signals_, SFD_CLOEXEC);
    stopped_fd_ = ::eventfd(0, EFD_CLOEXEC);
    quit_fd_ = ::eventfd(0, EFD_CLOEXEC);
    if (signal_fd_ >= 0 && stopped_fd_ >= 0 && quit_fd_ >= 0)
      thread_ = std::thread(&StopSignals::Watch, this);
  }
  ~StopSignals() {
    if (thread_.joinable()) {
      Post(quit_fd_);
      thread_.join();
    }
    for (int fd : {signal_fd_, stopped_fd_, quit_fd_})
      if (fd >= 0) ::close(fd);
    pthread_sigmask(SIG_SETMASK, &original_, nullptr);
  }
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;

  bool ok() const { return thread_.joinable(); }
  // Readable once a stop signal has come.
  int stopped_fd() const { return stopped_fd_; }

 private:
  static void Post(int fd) {
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(fd, &one, sizeof one);
  }

  void Watch() {
    pollfd fds[2] = {{signal_fd_, POLLIN, 0}, {quit_fd_, POLLIN, 0}};
    while (::poll(fds, 2, -1) >= 0 || errno == EINTR) {
      if (fds[1].revents != 0) return;
      if (fds[0].revents == 0) continue;
      signalfd_siginfo info{};
      if (::read(signal_fd_, &info, sizeof info) != sizeof info) continue;
      emulator_.Shutdown();
      Post(stopped_fd_);
    }
  }

  RecorderEmulator& emulator_;
  sigset_t signals_{}, original_{};
  int signal_fd_ = -1;
  int stopped_fd_ = -1;
  int quit_fd_ = -1;
  std::thread thread_;
};

// The request loop. The PC's side of the protocol is a strict alternation of
// small requests (a command block, then its reply or data), so the time per
// exchange is dominated by waking this process for each request. After a
// request the loop keeps looking for the next one for a short while before
// it sleeps again: a burst of exchanges is served without wake-ups, an idle
// recorder costs nothing. Returns 0 when stopped (by a stop signal or an
// unmount), a negative errno on failure.
int RunRequestLoop(fuse_session* se, const StopSignals& stop) {
  const int fd = fuse_session_fd(se);
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0 || ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) < 0) return -errno;
  constexpr auto kBusyWindow = std::chrono::microseconds(500);
  fuse_buf buf{};
  int result = 0;
  auto last_request = std::chrono::steady_clock::now();
  while (!fuse_session_exited(se)) {
    const int res = fuse_session_receive_buf(se, &buf);
    if (res == -EAGAIN) {
      const bool busy = std::chrono::steady_clock::now() - last_request < kBusyWindow;
      pollfd p[2] = {{fd, POLLIN, 0}, {stop.stopped_fd(), POLLIN, 0}};
      if (::poll(p, 2, busy ? 0 : -1) < 0 && errno != EINTR) {
        result = -errno;
        break;
      }
      if (p[1].revents != 0) break;
      continue;
    }
    if (res == -EINTR) continue;
    if (res <= 0) {
      if (res < 0) result = res;
      break;
    }
    fuse_session_process_buf(se, &buf);
    last_request = std::chrono::steady_clock::now();
  }
  std::free(buf.mem);
  fuse_session_reset(se);
  return result;
}

int ServeMounted(RecorderEmulator& emulator, const ServeOptions& options, fuse_args* args) {
  // Stop signals are watched from before the mount until after the unmount,
  // so that none can end the process with the disk still mounted.
  StopSignals stop(emulator);
  if (!stop.ok()) {
    std::fprintf(stderr, "lyr-emu: cannot watch for stop signals: %s\n", std::strerror(errno));
    return 1;
  }
  fuse_operations ops{};
  ops.init = Init;
  ops.getattr = GetAttr;
  ops.readdir = ReadDir;
  ops.open = Open;
  ops.read = Read;
  ops.write = Write;
  ops.truncate = Truncate;
  fuse* f = fuse_new(args, &ops, sizeof ops, &emulator);
  if (f == nullptr) {
    std::fprintf(stderr, "lyr-emu: cannot set up FUSE\n");
    return 1;
  }
  if (fuse_mount(f, options.mount_dir.c_str()) != 0) {
    std::fprintf(stderr, "lyr-emu: cannot mount on %s (is /dev/fuse there and fusermount3 installed?)\n",
                 options.mount_dir.c_str());
    fuse_destroy(f);
    return 1;
  }
  int status = 1;
  if (!options.on_mounted || options.on_mounted()) {
    // One request at a time, in order; a stop signal is a clean end.
    status = RunRequestLoop(fuse_get_session(f), stop) >= 0 ? 0 : 1;
  }
  if (options.on_unmounting) options.on_unmounting();
  fuse_unmount(f);
  fuse_destroy(f);
  return status;
}

}  // namespace

int ServeDisk(RecorderEmulator& emulator, const ServeOptions& options) {
  // The subtype is what tells lyrctl that this file is a stand-in's disk.
  std::vector<std::string> args_text = {"lyr-emu", "-o",
                                        std::string("fsname=lyr-emu,subtype=") + lyr::kStandInSubtype};
  if (options.allow_other) {
    args_text.push_back("-o");
    args_text.push_back("allow_other");
  }
  std::vector<char*> argv;
  for (auto& a : args_text) argv.push_back(a.data());
  fuse_args args = FUSE_ARGS_INIT(static_cast<int>(argv.size()), argv.data());
  const int status = ServeMounted(emulator, options, &args);
  fuse_opt_free_args(&args);
  return status;
}

}  // namespace lyr_emu
