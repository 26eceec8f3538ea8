#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "platform/file_io.h"

namespace lyr {

int OpenFile(const std::string& path, int flags, int mode) {
  return ::open(path.c_str(), flags | O_CLOEXEC, mode);
}

long long ReadFileAt(int fd, void* buffer, size_t length, uint64_t offset) {
  ssize_t n;
  do {
    n = ::pread(fd, buffer, length, static_cast<off_t>(offset));
  } while (n < 0 && errno == EINTR);
  return n;
}

long long WriteFileAt(int fd, const void* buffer, size_t length, uint64_t offset) {
  ssize_t n;
  do {
    n = ::pwrite(fd, buffer, length, static_cast<off_t>(offset));
  } while (n < 0 && errno == EINTR);
  return n;
}

int RenameReplacing(const std::string& from, const std::string& to) {
  return std::rename(from.c_str(), to.c_str());
}

}  // namespace lyr
