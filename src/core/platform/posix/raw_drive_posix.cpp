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

#include "platform/aligned_buffer.h"
#include "platform/block_device.h"
#include "platform/trace.h"

namespace lyr {
namespace {

constexpr size_t kBounceSize = 1 << 20;

class PosixRawDrive final : public BlockDevice {
 public:
  explicit PosixRawDrive(int fd) : fd_(fd) {}
  ~PosixRawDrive() override { ::close(fd_); }

  bool ReadAt(uint64_t offset, void* buffer, size_t length, size_t* done) override {
    *done = 0;
    auto* out = static_cast<unsigned char*>(buffer);
    while (*done < length) {
      const size_t want = length - *done;
      unsigned char* target = out + *done;
      const bool direct = IsAligned(target) && want % 512 == 0;
      const size_t piece = direct ? want : std::min(want, kBounceSize);
      if (!direct && !EnsureBounce()) return false;
      unsigned char* io = direct ? target : bounce_.data();
      const size_t io_len = direct ? piece : RoundUp(piece);
      const ssize_t n = PreadFull(io, io_len, offset + *done);
      if (n < 0) return false;
      const size_t got = std::min(static_cast<size_t>(n), piece);
      if (!direct) std::memcpy(target, io, got);
      *done += got;
      if (got < piece) return false;  // end of device
    }
    return true;
  }

  bool WriteAt(uint64_t offset, const void* buffer, size_t length, size_t* done) override {
    *done = 0;
    const auto* in = static_cast<const unsigned char*>(buffer);
    while (*done < length) {
      const size_t want = length - *done;
      const unsigned char* source = in + *done;
      const bool direct = IsAligned(source) && want % 512 == 0;
      const size_t piece = direct ? want : std::min(want, kBounceSize);
      if (!direct) {
        // Sector writes only: a partial sector cannot be written without
        // reading it first, which would send a stray read to the recorder.
        if (piece % 512 != 0 || !EnsureBounce()) {
          errno = EINVAL;
          return false;
        }
        std::memcpy(bounce_.data(), source, piece);
      }
      const ssize_t n = PwriteFull(direct ? source : bounce_.data(), piece, offset + *done);
      if (n < 0) return false;
      *done += static_cast<size_t>(n);
      if (static_cast<size_t>(n) < piece) return false;
    }
    return true;
  }

 private:
  static bool IsAligned(const void* p) {
    return reinterpret_cast<uintptr_t>(p) % AlignedBuffer::kAlignment == 0;
  }
  static size_t RoundUp(size_t n) { return (n + 511) / 512 * 512; }
  bool EnsureBounce() { return bounce_.size() != 0 || bounce_.Resize(kBounceSize); }

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
  ssize_t PreadFull(unsigned char* p, size_t len, uint64_t off) { return Full(p, len, off, ::pread); }
  ssize_t PwriteFull(const unsigned char* p, size_t len, uint64_t off) { return Full(p, len, off, ::pwrite); }

  int fd_;
  AlignedBuffer bounce_;
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
