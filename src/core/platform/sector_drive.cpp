#include "platform/sector_drive.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace lyr {
namespace {

constexpr size_t kBounceSize = 1 << 20;

bool IsAligned(const void* p) { return reinterpret_cast<uintptr_t>(p) % AlignedBuffer::kAlignment == 0; }
size_t RoundUp(size_t n) {
  return (n + SectorDrive::kSectorSize - 1) / SectorDrive::kSectorSize * SectorDrive::kSectorSize;
}

}  // namespace

bool SectorDrive::EnsureBounce() { return bounce_.size() != 0 || bounce_.Resize(kBounceSize); }

bool SectorDrive::ReadAt(uint64_t offset, void* buffer, size_t length, size_t* done) {
  *done = 0;
  auto* out = static_cast<unsigned char*>(buffer);
  while (*done < length) {
    const size_t want = length - *done;
    unsigned char* target = out + *done;
    const bool direct = IsAligned(target) && want % kSectorSize == 0;
    const size_t piece = direct ? want : std::min(want, kBounceSize);
    if (!direct && !EnsureBounce()) return false;
    unsigned char* io = direct ? target : bounce_.data();
    const size_t io_len = direct ? piece : RoundUp(piece);
    const long long n = ReadSectors(io, io_len, offset + *done);
    if (n < 0) return false;
    const size_t got = std::min(static_cast<size_t>(n), piece);
    if (!direct) std::memcpy(target, io, got);
    *done += got;
    if (got < piece) return false;  // end of device
  }
  return true;
}

bool SectorDrive::WriteAt(uint64_t offset, const void* buffer, size_t length, size_t* done) {
  *done = 0;
  const auto* in = static_cast<const unsigned char*>(buffer);
  while (*done < length) {
    const size_t want = length - *done;
    const unsigned char* source = in + *done;
    const bool direct = IsAligned(source) && want % kSectorSize == 0;
    const size_t piece = direct ? want : std::min(want, kBounceSize);
    if (!direct) {
      if (piece % kSectorSize != 0 || !EnsureBounce()) {
        errno = EINVAL;
        return false;
      }
      std::memcpy(bounce_.data(), source, piece);
    }
    const long long n = WriteSectors(direct ? source : bounce_.data(), piece, offset + *done);
    if (n < 0) return false;
    *done += static_cast<size_t>(n);
    if (static_cast<size_t>(n) < piece) return false;
  }
  return true;
}

}  // namespace lyr
