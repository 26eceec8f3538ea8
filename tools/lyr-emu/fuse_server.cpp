#define FUSE_USE_VERSION 31
#include "fuse_server.h"

#include <fuse.h>
#include <sys/stat.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <algorithm>
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
    // One request at a time keeps every exchange in the order the PC sent it.
    // The loop returns the signal that stopped it, which is a clean end.
    status = fuse_loop(f) >= 0 ? 0 : 1;
    if (options.on_unmounting) options.on_unmounting();
    fuse_remove_signal_handlers(fuse_get_session(f));
  }
  fuse_unmount(f);
  fuse_destroy(f);
  fuse_opt_free_args(&args);
  return status;
}

}  // namespace lyr_emu
