// Reads one recording off a recorder disk in 64 KiB ReadRecordingData pieces
// and prints the throughput. With --prime it only sends the read command for
// the whole recording and prints the byte offset where the recorder lays the
// data, so that dd can read the very same bytes for comparison. With --floor
// it makes the same two transfers per piece (the command block, then the
// 64 KiB of data) as bare pwrite/pread calls on its own O_DIRECT descriptor:
// what any implementation of the exchange costs on this machine, whatever
// its own overhead. `--floor FILE` also writes every piece to FILE, the
// floor of an export.
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "link/command_set.h"
#include "platform/aligned_buffer.h"
#include "platform/byte_order.h"

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s DEVICE ENTRY [--prime|--floor [FILE]]\n", argv[0]);
    return 2;
  }
  const std::string device = argv[1];
  const uint32_t entry = static_cast<uint32_t>(std::strtoul(argv[2], nullptr, 10));
  const std::string mode = argc > 3 ? argv[3] : "";
  const bool prime = mode == "--prime";
  const bool bare = mode == "--floor";

  lyr::RecorderLink link;
  link.SetSettleDelay(std::chrono::milliseconds(0));
  if (link.OpenLink(device) != 0 || !link.Identify() || !link.RequestAccess("")) {
    std::fprintf(stderr, "cannot open the recorder at %s\n", device.c_str());
    return 1;
  }
  lyr::RecordingRecordBytes record{};
  if (!link.GetRecordingInfo(entry, record)) return 1;
  const uint32_t size = lyr::GetU32(record.data());

  if (prime) {
    // The same command ReadRecordingData sends, announcing the whole recording.
    lyr::AlignedBuffer block(512);
    lyr::PutU16(block.data() + 12, lyr::protocol::kGroupRecordings);
    lyr::PutU16(block.data() + 14, lyr::protocol::kCodeReadData);
    lyr::PutU32(block.data() + 16, entry);
    lyr::PutU32(block.data() + 28, (size / 65536 + 1) * 65536);
    if (link.Transport().SendCommandBlock(block.data(), 512) != 512) return 1;
    // The data follows the sector the block went to (offset 4), wrapping at the window end.
    uint32_t data_sector = lyr::GetU32(block.data() + 4) + 1;
    if (data_sector >= lyr::protocol::kWindowEnd) data_sector = lyr::protocol::kWindowStart;
    std::printf("%llu %u\n", static_cast<unsigned long long>(data_sector) * 512, size);
    return 0;
  }

  lyr::AlignedBuffer buffer(65536);
  uint64_t checksum = 0;
  const auto start = std::chrono::steady_clock::now();
  if (bare) {
    namespace p = lyr::protocol;
    const int fd = ::open(device.c_str(), O_RDWR | O_DIRECT | O_CLOEXEC);
    if (fd < 0) return 1;
    const int out = argc > 4 ? ::open(argv[4], O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644) : -1;
    if (argc > 4 && out < 0) return 1;
    lyr::AlignedBuffer block(512);
    uint32_t sector = link.Transport().WindowPointer();
    for (uint32_t offset = 0; offset < size; offset += 65536) {
      // Sector after the block and the piece's 128 data sectors must not
      // cross the window end, where the link would split the read.
      if (sector + 129 > p::kWindowEnd) sector = p::kWindowStart;
      std::memset(block.data(), 0, 512);
      lyr::PutU32(block.data() + p::kOffTag, p::kBlockTag);
      lyr::PutU32(block.data() + p::kOffPosition, sector);
      lyr::PutU16(block.data() + p::kOffGroup, p::kGroupRecordings);
      lyr::PutU16(block.data() + p::kOffCode, p::kCodeReadData);
      lyr::PutU32(block.data() + p::kOffArgs + 0, entry);
      lyr::PutU32(block.data() + p::kOffArgs + 4, offset);
      lyr::PutU32(block.data() + p::kOffArgs + 12, 131072);
      lyr::PutU32(block.data() + p::kOffChecksum, lyr::BlockChecksum(block.data(), 512));
      if (::pwrite(fd, block.data(), 512, static_cast<off_t>(sector) * 512) != 512 ||
          ::pread(fd, buffer.data(), 65536, static_cast<off_t>(sector + 1) * 512) != 65536) {
        std::fprintf(stderr, "transfer failed at %u\n", offset);
        return 1;
      }
      const uint32_t n = std::min<uint32_t>(65536, size - offset);
      if (out >= 0 && ::write(out, buffer.data(), n) != static_cast<ssize_t>(n)) return 1;
      checksum += buffer.data()[0];
      sector += 129;
    }
    ::close(fd);
    if (out >= 0 && ::close(out) != 0) return 1;
  }
  for (uint32_t offset = 0; !bare && offset < size; offset += 65536) {
    const uint32_t n = std::min<uint32_t>(65536, size - offset);
    if (!link.ReadRecordingData(entry, offset, n, buffer.data())) {
      std::fprintf(stderr, "read failed at %u\n", offset);
      return 1;
    }
    checksum += buffer.data()[0];
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("%u bytes in %.3f s: %.1f MiB/s (%llu)\n", size, seconds, size / seconds / 1048576.0,
              static_cast<unsigned long long>(checksum));
  return 0;
}
