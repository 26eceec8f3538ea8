#pragma once
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/result.h"

namespace lyr {

// A disk addressed by byte offset with positioned, synchronous transfers: the
// recorder's raw drive, a plain file standing in for it, or an in-process
// stand-in recorder. Offsets and lengths are whole sectors in every use.
class BlockDevice {
 public:
  virtual ~BlockDevice() = default;
  // Each returns false on failure; `done` receives the bytes transferred.
  virtual bool ReadAt(uint64_t offset, void* buffer, size_t length, size_t* done) = 0;
  virtual bool WriteAt(uint64_t offset, const void* buffer, size_t length, size_t* done) = 0;
};

using RawDriveOpenResult = Result<std::unique_ptr<BlockDevice>>;

// How long an open waits for another program to let go of the drive.
inline constexpr std::chrono::milliseconds kDriveLockWait{2500};

// Opens a disk (or a file standing in for one) for reading and writing with
// direct I/O, so that every read reaches the device: the recorder answers a
// command block on the sectors that follow it, and a page cache would serve
// stale replies or read ahead before the command is written.
//
// The opener holds the drive exclusively (flock) for as long as the device
// lives: two programs exchanging blocks through one window would read each
// other's replies. When another program holds it, the open retries for
// `lock_wait`, then fails with kErrorSharingViolation and a context naming
// the holder where it can be found ("lyrctl, pid 4242").
RawDriveOpenResult OpenRawDrive(const std::string& path,
                                std::chrono::milliseconds lock_wait = kDriveLockWait);

// Who holds a lock on the file `fd` has open, as "NAME, pid N" from
// /proc/locks and /proc/N/comm; empty when it cannot be found.
std::string DescribeLockHolder(int fd);

}  // namespace lyr
