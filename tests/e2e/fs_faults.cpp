// Preloaded into a program under test (LD_PRELOAD) to show what it asks of
// the file system, and to give it the faults of disks the tests cannot make:
//   LYR_FS_LOG=FILE         appends "fsync PATH" for every fsync/fdatasync
//   LYR_FS_NO_LINKS=1       hard links fail with EPERM and the no-replace
//                           rename with EINVAL, as on FAT and exFAT
//   LYR_FS_FAIL_FSYNC=NAME  fsync of a file called NAME fails with EIO
//   LYR_FS_SHORT_WRITE=NAME a write to a file called NAME stores half of
//                           its bytes and reports them, as a full disk does
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>

namespace {

template <typename F>
F Next(const char* name) {
  return reinterpret_cast<F>(::dlsym(RTLD_NEXT, name));
}

std::string PathOf(int fd) {
  char link[64], path[4096];
  ::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  const ssize_t n = ::readlink(link, path, sizeof path - 1);
  return n > 0 ? std::string(path, static_cast<size_t>(n)) : std::string();
}

bool Named(const std::string& path, const char* name) {
  if (name == nullptr || *name == '\0') return false;
  const size_t slash = path.rfind('/');
  return path.substr(slash == std::string::npos ? 0 : slash + 1) == name;
}

int Sync(int fd, const char* real_name) {
  const std::string path = PathOf(fd);
  if (const char* log = ::getenv("LYR_FS_LOG")) {
    const int out = ::open(log, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (out >= 0) {
      const std::string line = "fsync " + path + "\n";
      [[maybe_unused]] const ssize_t n =
          Next<ssize_t (*)(int, const void*, size_t)>("write")(out, line.data(), line.size());
      ::close(out);
    }
  }
  if (Named(path, ::getenv("LYR_FS_FAIL_FSYNC"))) {
    errno = EIO;
    return -1;
  }
  return Next<int (*)(int)>(real_name)(fd);
}

bool NoLinks() {
  const char* v = ::getenv("LYR_FS_NO_LINKS");
  return v != nullptr && *v == '1';
}

}  // namespace

extern "C" {

int fsync(int fd) { return Sync(fd, "fsync"); }
int fdatasync(int fd) { return Sync(fd, "fdatasync"); }

ssize_t write(int fd, const void* data, size_t size) {
  static const auto real = Next<ssize_t (*)(int, const void*, size_t)>("write");
  const char* name = ::getenv("LYR_FS_SHORT_WRITE");
  if (size > 1 && name != nullptr && Named(PathOf(fd), name)) size /= 2;
  return real(fd, data, size);
}

int link(const char* from, const char* to) {
  if (NoLinks()) {
    errno = EPERM;
    return -1;
  }
  return Next<int (*)(const char*, const char*)>("link")(from, to);
}

int linkat(int from_dir, const char* from, int to_dir, const char* to, int flags) {
  if (NoLinks()) {
    errno = EPERM;
    return -1;
  }
  return Next<int (*)(int, const char*, int, const char*, int)>("linkat")(from_dir, from, to_dir, to, flags);
}

int renameat2(int from_dir, const char* from, int to_dir, const char* to, unsigned int flags) {
  if (NoLinks() && flags != 0) {
    errno = EINVAL;
    return -1;
  }
  return Next<int (*)(int, const char*, int, const char*, unsigned int)>("renameat2")(from_dir, from, to_dir,
                                                                                      to, flags);
}
}
