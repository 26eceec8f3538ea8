#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

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

struct RawDriveOpenResult {
  std::unique_ptr<BlockDevice> device;
  int os_error = 0;  // errno when device is null
};

// Opens a disk (or a file standing in for one) for reading and writing with
// direct I/O, so that every read reaches the device: the recorder answers a
// command block on the sectors that follow it, and a page cache would serve
// stale replies or read ahead before the command is written.
RawDriveOpenResult OpenRawDrive(const std::string& path);

}  // namespace lyr
