#pragma once
#include <cstddef>
#include <cstdint>

#include "platform/aligned_buffer.h"
#include "platform/block_device.h"

namespace lyr {

// A drive opened for direct I/O, which moves whole sectors between aligned
// memory and sector offsets only. Transfers of any other shape go through a
// bounce buffer; a write of a partial sector is refused, as it cannot be made
// without reading the sector first (a stray read to the recorder).
class SectorDrive : public BlockDevice {
 public:
  static constexpr size_t kSectorSize = 512;

  bool ReadAt(uint64_t offset, void* buffer, size_t length, size_t* done) override;
  bool WriteAt(uint64_t offset, const void* buffer, size_t length, size_t* done) override;

 protected:
  // One aligned transfer of whole sectors, repeated until whole, the device
  // ends or it fails: bytes moved, or -1 (errno set) when nothing moved.
  virtual long long ReadSectors(unsigned char* buffer, size_t length, uint64_t offset) = 0;
  virtual long long WriteSectors(const unsigned char* buffer, size_t length, uint64_t offset) = 0;

 private:
  bool EnsureBounce();
  AlignedBuffer bounce_;
};

}  // namespace lyr
