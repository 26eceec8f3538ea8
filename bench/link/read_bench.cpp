// Reads one recording off a recorder disk in 64 KiB ReadRecordingData pieces
// and prints the throughput. With --prime it only sends the read command for
// the whole recording and prints the byte offset where the recorder lays the
// data, so that dd can read the very same bytes for comparison. With --floor
// it makes the same two transfers per piece (the command block, then the
// 64 KiB of data) as bare pwrite/pread calls on its own O_DIRECT descriptor:
// what any implementation of the exchange costs on this machine, whatever
// its own overhead. `--floor FILE` also writes every piece to FILE, the
// floor of an export; `--to FILE` writes every piece the link reads to FILE
// as an export writes it.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

#include "link/recorder_link.h"
#include "platform/aligned_buffer.h"
#include "platform/byte_order.h"
#include "transfer/partial_file.h"

namespace {

namespace p = lyr::protocol;
constexpr uint32_t kPiece = 65536;
constexpr uint32_t kPieceSectors = kPiece / 512;

// The command ReadRecordingData sends, before its header is stamped.
void PrepareReadCommand(uint8_t* block, uint32_t entry, uint32_t offset, uint32_t announced) {
  std::memset(block, 0, 512);
  lyr::PutU16(block + p::kOffGroup, p::kGroupRecordings);
  lyr::PutU16(block + p::kOffCode, p::kCodeReadData);
  lyr::PutU32(block + p::kOffArgs + 0, entry);
  lyr::PutU32(block + p::kOffArgs + 4, offset);
  lyr::PutU32(block + p::kOffArgs + 12, announced);
}

// The link's way: ReadRecordingData piece by piece; with `out_path`, each
// piece goes to that file as an export writes it (read straight into the
// export's writer, a partial file committed at the end). Sum of first bytes,
// or nothing on failure.
std::optional<uint64_t> ReadThroughLink(lyr::RecorderLink& link, uint32_t entry, uint32_t size,
                                        const char* out_path) {
  std::optional<lyr::PartialFile> file;
  std::optional<lyr::PieceAlignedWriter> out;
  if (out_path != nullptr) {
    auto created = lyr::PartialFile::Create(out_path);
    if (!created) return std::nullopt;
    file.emplace(std::move(created).value());
    out.emplace(file->fd(), file->path());
  }
  lyr::AlignedBuffer buffer(kPiece);
  uint64_t checksum = 0;
  for (uint32_t offset = 0; offset < size; offset += kPiece) {
    uint8_t* into = out ? out->Space() : buffer.data();
    // As the export asks: whole pieces, the last one too.
    const uint32_t ask = out ? kPiece : std::min(kPiece, size - offset);
    if (!link.ReadRecordingData(entry, offset, ask, into)) {
      std::fprintf(stderr, "read failed at %u\n", offset);
      return std::nullopt;
    }
    checksum += into[0];
    if (out && !out->Commit(std::min(kPiece, size - offset))) return std::nullopt;
  }
  if (out && (!out->Finish() || !file->Commit(true))) return std::nullopt;
  return checksum;
}

// The floor: the same two transfers per piece as bare system calls, from the
// window pointer the link left.
std::optional<uint64_t> ReadBare(const std::string& device, const char* out_path, uint32_t first_sector,
                                 uint32_t entry, uint32_t size) {
  const int fd = ::open(device.c_str(), O_RDWR | O_DIRECT | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  const int out = out_path != nullptr ? ::open(out_path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644) : -1;
  if (out_path != nullptr && out < 0) {
    ::close(fd);
    return std::nullopt;
  }
  lyr::AlignedBuffer block(512);
  lyr::AlignedBuffer buffer(kPiece);
  uint64_t checksum = 0;
  bool ok = true;
  uint32_t sector = first_sector;
  for (uint32_t offset = 0; ok && offset < size; offset += kPiece) {
    // The block and the piece's data must not cross the window end, where
    // the link would split the read.
    if (sector + 1 + kPieceSectors > p::kWindowEnd) sector = p::kWindowStart;
    PrepareReadCommand(block.data(), entry, offset, 2 * kPiece);
    lyr::PutU32(block.data() + p::kOffTag, p::kBlockTag);
    lyr::PutU32(block.data() + p::kOffPosition, sector);
    lyr::PutU32(block.data() + p::kOffChecksum, lyr::BlockChecksum(block.data(), 512));
    const uint32_t n = std::min(kPiece, size - offset);
    ok = ::pwrite(fd, block.data(), 512, static_cast<off_t>(sector) * 512) == 512 &&
         ::pread(fd, buffer.data(), kPiece, static_cast<off_t>(sector + 1) * 512) == kPiece &&
         (out < 0 || ::write(out, buffer.data(), n) == static_cast<ssize_t>(n));
    if (!ok) std::fprintf(stderr, "transfer failed at %u\n", offset);
    checksum += buffer.data()[0];
    sector += 1 + kPieceSectors;
  }
  ::close(fd);
  if (out >= 0 && ::close(out) != 0) ok = false;
  return ok ? std::optional<uint64_t>(checksum) : std::nullopt;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s DEVICE ENTRY [--prime|--floor [FILE]|--to FILE]\n", argv[0]);
    return 2;
  }
  const std::string device = argv[1];
  const uint32_t entry = static_cast<uint32_t>(std::strtoul(argv[2], nullptr, 10));
  const std::string mode = argc > 3 ? argv[3] : "";

  lyr::RecorderLink link;
  link.SetSettleDelay(std::chrono::milliseconds(0));
  if (link.OpenLink(device) != 0 || !link.Identify() || !link.RequestAccess("")) {
    std::fprintf(stderr, "cannot open the recorder at %s\n", device.c_str());
    return 1;
  }
  lyr::RecordingRecordBytes record{};
  if (!link.GetRecordingInfo(entry, record)) return 1;
  const uint32_t size = lyr::GetU32(record.data());

  if (mode == "--prime") {
    // Announces the whole recording.
    lyr::AlignedBuffer block(512);
    PrepareReadCommand(block.data(), entry, 0, (size / kPiece + 1) * kPiece);
    if (link.Transport().SendCommandBlock(block.data(), 512) != 512) return 1;
    // The data follows the sector the block went to, wrapping at the window end.
    uint32_t data_sector = lyr::GetU32(block.data() + p::kOffPosition) + 1;
    if (data_sector >= p::kWindowEnd) data_sector = p::kWindowStart;
    std::printf("%llu %u\n", static_cast<unsigned long long>(data_sector) * 512, size);
    return 0;
  }

  const auto start = std::chrono::steady_clock::now();
  const std::optional<uint64_t> checksum =
      mode == "--floor"
          ? ReadBare(device, argc > 4 ? argv[4] : nullptr, link.Transport().WindowPointer(), entry, size)
          : ReadThroughLink(link, entry, size, mode == "--to" && argc > 4 ? argv[4] : nullptr);
  if (!checksum) return 1;
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("%u bytes in %.3f s: %.1f MiB/s (%llu)\n", size, seconds, size / seconds / 1048576.0,
              static_cast<unsigned long long>(*checksum));
  return 0;
}
