#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

#include "platform/block_device.h"
#include "platform/sector_drive.h"
#include "platform/trace.h"

namespace lyr {
namespace {

class PosixRawDrive final : public SectorDrive {
 public:
  explicit PosixRawDrive(int fd) : fd_(fd) {}
  ~PosixRawDrive() override { ::close(fd_); }

 protected:
  long long ReadSectors(unsigned char* p, size_t len, uint64_t off) override {
    return Full(p, len, off, ::pread);
  }
  long long WriteSectors(const unsigned char* p, size_t len, uint64_t off) override {
    return Full(p, len, off, ::pwrite);
  }

 private:
  // Repeats a positioned transfer until it is whole, the device ends, or it
  // fails; bytes moved, or -1 when nothing moved.
  template <typename Byte, typename Io>
  ssize_t Full(Byte* p, size_t len, uint64_t off, Io io) {
    size_t total = 0;
    while (total < len) {
      const ssize_t n = io(fd_, p + total, len - total, static_cast<off_t>(off + total));
      if (n < 0) {
        if (errno == EINTR) continue;
        return total > 0 ? static_cast<ssize_t>(total) : -1;
      }
      if (n == 0) break;
      total += static_cast<size_t>(n);
    }
    return static_cast<ssize_t>(total);
  }

  int fd_;
};

}  // namespace

std::string DescribeLockHolder(int fd) {
  struct stat st {};
  if (::fstat(fd, &st) != 0) return {};
  std::ifstream locks("/proc/locks");
  std::string line;
  while (std::getline(locks, line)) {
    // "1: FLOCK  ADVISORY  WRITE 4242 00:2f:1234 0 EOF"; waiters carry "->".
    std::istringstream in(line);
    std::string id, kind, mode, access, device;
    long pid = 0;
    if (!(in >> id >> kind >> mode >> access >> pid >> device) || kind == "->") continue;
    unsigned maj = 0, min = 0;
    unsigned long long ino = 0;
    if (std::sscanf(device.c_str(), "%x:%x:%llu", &maj, &min, &ino) != 3) continue;
    if (maj != major(st.st_dev) || min != minor(st.st_dev) || ino != st.st_ino || pid <= 0) continue;
    std::ifstream comm_file("/proc/" + std::to_string(pid) + "/comm");
    std::string comm;
    std::getline(comm_file, comm);
    return (comm.empty() ? std::string("pid ") : comm + ", pid ") + std::to_string(pid);
  }
  return {};
}

RawDriveOpenResult OpenRawDrive(const std::string& path, std::chrono::milliseconds lock_wait) {
  int fd = ::open(path.c_str(), O_RDWR | O_DIRECT | O_CLOEXEC);
  if (fd < 0 && errno == EINVAL) {
    // Some file systems refuse direct I/O on regular files (a file standing
    // in for the disk). A block device always supports it, so only a regular
    // file may fall back to synchronous buffered access.
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
      fd = ::open(path.c_str(), O_RDWR | O_DSYNC | O_CLOEXEC);
      Trace("raw drive: %s opened without direct I/O\n", path.c_str());
    } else {
      errno = EINVAL;
    }
  }
  if (fd < 0) return Error::Os(errno, "open " + path);

  // One program at a time: a program that has just closed the drive, or is
  // about to, gets a moment to let go.
  const auto deadline = std::chrono::steady_clock::now() + lock_wait;
  while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int err = errno;
    if (err == EINTR) continue;
    if (err != EWOULDBLOCK || std::chrono::steady_clock::now() >= deadline) {
      std::string holder = err == EWOULDBLOCK ? DescribeLockHolder(fd) : std::string();
      ::close(fd);
      if (err != EWOULDBLOCK) return Error::Os(err, "lock " + path);
      return Error::Code(kErrorSharingViolation, holder);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return std::unique_ptr<BlockDevice>(std::make_unique<PosixRawDrive>(fd));
}

}  // namespace lyr
