// A file system that never answers: mounted on the folder given, every
// request after the mount waits until the program is killed, as a network
// or FUSE mount whose server has hung. Tests use it to show that the
// windows never wait on such a mount.
#define FUSE_USE_VERSION 31
#include <fuse.h>
#include <unistd.h>

#include <cstdio>

namespace {

int Stall() {
  for (;;) ::pause();
  return 0;
}

int GetAttr(const char*, struct stat*, fuse_file_info*) { return Stall(); }
int ReadDir(const char*, void*, fuse_fill_dir_t, off_t, fuse_file_info*, fuse_readdir_flags) {
  return Stall();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: stalled-fuse MOUNT_DIR\n");
    return 2;
  }
  fuse_operations ops{};
  ops.getattr = GetAttr;
  ops.readdir = ReadDir;
  char* fuse_argv[] = {argv[0], const_cast<char*>("-f"), const_cast<char*>("-s"), argv[1], nullptr};
  return fuse_main(4, fuse_argv, &ops, nullptr);
}
