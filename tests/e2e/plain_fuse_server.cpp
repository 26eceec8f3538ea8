// A FUSE file system that is not the stand-in recorder: it serves one plain
// file, MOUNTDIR/disk (1 MiB, zeros at first), as ntfs-3g or sshfs would
// serve a user's file. Runs in the foreground until SIGINT or SIGTERM.
#define FUSE_USE_VERSION 31
#include <fuse.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace {

std::vector<char> g_data(1 << 20, '\0');

// One folder holding one file, "disk".
bool IsRoot(std::string_view path) { return path == "/"; }
bool IsDisk(std::string_view path) { return path == "/disk"; }

int GetAttr(const char* path, struct stat* st, fuse_file_info* /*fi*/) {
  if (!IsRoot(path) && !IsDisk(path)) return -ENOENT;
  *st = {};
  st->st_mode = IsRoot(path) ? (S_IFDIR | 0755) : (S_IFREG | 0660);
  st->st_nlink = IsRoot(path) ? 2 : 1;
  st->st_size = IsRoot(path) ? 0 : static_cast<off_t>(g_data.size());
  return 0;
}

int Open(const char* path, fuse_file_info* fi) {
  fi->direct_io = 1;
  return IsDisk(path) ? 0 : -ENOENT;
}

int Read(const char* /*path*/, char* buf, size_t size, off_t offset, fuse_file_info* /*fi*/) {
  if (offset < 0 || static_cast<size_t>(offset) >= g_data.size()) return 0;
  size = std::min(size, g_data.size() - static_cast<size_t>(offset));
  std::memcpy(buf, g_data.data() + offset, size);
  return static_cast<int>(size);
}

int Write(const char* /*path*/, const char* buf, size_t size, off_t offset, fuse_file_info* /*fi*/) {
  if (offset < 0 || static_cast<size_t>(offset) + size > g_data.size()) return -ENOSPC;
  std::memcpy(g_data.data() + offset, buf, size);
  return static_cast<int>(size);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  std::vector<std::string> text = {argv[0], "-f", "-s", "-o", "fsname=plain,subtype=plain", argv[1]};
  std::vector<char*> args;
  for (auto& t : text) args.push_back(t.data());
  // No listing: the file is reached by its name.
  fuse_operations ops{};
  ops.getattr = GetAttr;
  ops.open = Open;
  ops.read = Read;
  ops.write = Write;
  return fuse_main(static_cast<int>(args.size()), args.data(), &ops, nullptr);
}
