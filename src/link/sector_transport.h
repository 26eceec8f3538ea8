#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/block_device.h"

namespace lyr {

// Sum of the buffer's little-endian 16-bit words, negated modulo 2^32.
uint32_t BlockChecksum(const void* buffer, uint32_t length);

// The raw drive and the moving sector window through which command blocks,
// replies and bulk data pass. Every exchange outside OpenLink/CloseDrive goes
// through RecorderLink, which serialises them.
class SectorTransport {
 public:
  using DriveOpener = std::function<RawDriveOpenResult(const std::string& path)>;

  SectorTransport();
  explicit SectorTransport(DriveOpener opener);

  // 0 when the drive opened, -1 otherwise (OsError() then tells why).
  int OpenDrive(const std::string& path);
  void CloseDrive();
  // Window to 2048, open the drive, send the hello block. 0 or -1.
  int OpenLink(const std::string& path);
  bool IsOpen() const { return drive_ != nullptr; }
  int OsError() const { return os_error_; }

  // Positioned transfers: 0 on success, -1 on failure.
  int WriteSectors(uint32_t sector, const void* buffer, uint32_t length, uint32_t* written);
  int ReadSectors(uint32_t sector, void* buffer, uint32_t length, uint32_t* read);

  void InitBlockHeader(uint8_t* block);
  // Header, checksum, write at the window pointer; bytes written (0 on failure).
  uint32_t SendCommandBlock(uint8_t* block, uint32_t length);
  // Next sectors of the window, split at the window end; bytes transferred.
  uint32_t BulkRead(void* buffer, uint32_t length);
  uint32_t BulkWrite(const void* buffer, uint32_t length);

  uint32_t WindowPointer() const { return window_pointer_; }
  void SetWindowPointer(uint32_t sector) { window_pointer_ = sector; }

 private:
  template <typename Transfer>
  uint32_t Bulk(uint32_t length, Transfer transfer);

  DriveOpener opener_;
  std::unique_ptr<BlockDevice> drive_;
  uint32_t window_pointer_ = 2048;
  int os_error_ = 0;
};

}  // namespace lyr
