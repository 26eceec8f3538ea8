#define FUSE_USE_VERSION 31
#include "fuse_server.h"

#include <fcntl.h>
#include <fuse.h>
#include <fuse_lowlevel.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <vector>

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

// The request loop. The PC's side of the protocol is a strict alternation of
// small requests (a command block, then its reply or data), so the time per
// exchange is dominated by waking this process for each request. After a
// request the loop keeps looking for the next one for a short while before
// it sleeps again: a burst of exchanges is served without wake-ups, an idle
// recorder costs nothing. Returns 0 when stopped (by a signal or unmount),
// a negative errno on failure.
int RunRequestLoop(fuse_session* se) {
  const int fd = fuse_session_fd(se);
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0 || ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) < 0) return fuse_session_loop(se);
  constexpr auto kBusyWindow = std::chrono::microseconds(500);
  // Stop signals are let in only while waiting in ppoll, so that one cannot
  // slip in between the last look at the exit flag and the wait.
  sigset_t stop_signals, original;
  sigemptyset(&stop_signals);
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&stop_signals, sig);
  pthread_sigmask(SIG_BLOCK, &stop_signals, &original);
  fuse_buf buf{};
  int result = 0;
  auto last_request = std::chrono::steady_clock::now();
  while (!fuse_session_exited(se)) {
    const int res = fuse_session_receive_buf(se, &buf);
    if (res == -EAGAIN) {
      const bool busy = std::chrono::steady_clock::now() - last_request < kBusyWindow;
      const timespec no_wait{0, 0};
      pollfd p{fd, POLLIN, 0};
      if (::ppoll(&p, 1, busy ? &no_wait : nullptr, &original) < 0 && errno != EINTR) {
        result = -errno;
        break;
      }
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
  pthread_sigmask(SIG_SETMASK, &original, nullptr);
  std::free(buf.mem);
  fuse_session_reset(se);
  return result;
}

}  // namespace

int ServeDisk(RecorderEmulator& emulator, const ServeOptions& options) {
  fuse_operations ops{};
  ops.init = Init;
  ops.getattr = GetAttr;
  ops.readdir = ReadDir;
  ops.open = Open;
  ops.read = Read;
  ops.write = Write;
  ops.truncate = Truncate;

  std::vector<std::string> args_text = {"lyr-emu", "-o", "fsname=lyr-emu,subtype=lyr-emu"};
  if (options.allow_other) {
    args_text.push_back("-o");
    args_text.push_back("allow_other");
  }
  std::vector<char*> argv;
  for (auto& a : args_text) argv.push_back(a.data());
  fuse_args args = FUSE_ARGS_INIT(static_cast<int>(argv.size()), argv.data());

  fuse* f = fuse_new(&args, &ops, sizeof ops, &emulator);
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
  // A background start from a script leaves SIGINT ignored, and FUSE only
  // takes over signals still at their default: stopping must always work.
  std::signal(SIGINT, SIG_DFL);
  std::signal(SIGTERM, SIG_DFL);
  std::signal(SIGHUP, SIG_DFL);
  int status = 1;
  if (fuse_set_signal_handlers(fuse_get_session(f)) == 0) {
    if (options.on_mounted) options.on_mounted();
    // One request at a time, in order; a signal that stops the loop is a clean end.
    status = RunRequestLoop(fuse_get_session(f)) >= 0 ? 0 : 1;
    if (options.on_unmounting) options.on_unmounting();
    fuse_remove_signal_handlers(fuse_get_session(f));
  }
  fuse_unmount(f);
  fuse_destroy(f);
  fuse_opt_free_args(&args);
  return status;
}

}  // namespace lyr_emu
