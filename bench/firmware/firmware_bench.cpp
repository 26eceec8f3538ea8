// A firmware update and its read-back through a recorder disk, timed. With
// --floor it makes the same transfers (the command blocks, every 2048-byte
// piece written, the status reply, every piece read back and compared, the
// release) as bare pwrite/pread calls on its own O_DIRECT descriptor: what
// any implementation of the exchange costs on this machine.
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "link/recorder_link.h"
#include "maintenance/firmware_update.h"
#include "platform/aligned_buffer.h"
#include "platform/byte_order.h"

namespace {

namespace p = lyr::protocol;
constexpr uint32_t kPiece = 2048;
constexpr uint32_t kPieceSectors = kPiece / 512;

class Quiet final : public lyr::JobReporter {
 public:
  void Message(const std::string& text, const std::string&, lyr::MessageIcon icon) override {
    if (icon != lyr::MessageIcon::Information) std::fprintf(stderr, "%s\n", text.c_str());
  }
  bool Confirm(const std::string&, const std::string&, const std::string&) override { return true; }
  void SetStatus(const std::string&) override {}
  void SetProgress(int) override {}
  void SetFileProgress(int) override {}
  bool Ask(const std::string&, const std::string&) override { return false; }
  bool CancelRequested() const override { return false; }
};

class Bare {
 public:
  Bare(int fd, uint32_t sector) : fd_(fd), sector_(sector), block_(512) {}
  bool Command(uint16_t group, uint16_t code, uint32_t arg = 0) {
    std::memset(block_.data(), 0, 512);
    lyr::PutU16(block_.data() + p::kOffGroup, group);
    lyr::PutU16(block_.data() + p::kOffCode, code);
    lyr::PutU32(block_.data() + p::kOffArgs, arg);
    lyr::PutU32(block_.data() + p::kOffTag, p::kBlockTag);
    lyr::PutU32(block_.data() + p::kOffPosition, sector_);
    lyr::PutU32(block_.data() + p::kOffChecksum, lyr::BlockChecksum(block_.data(), 512));
    return Transfer(true, block_.data(), 512);
  }
  bool Transfer(bool write, uint8_t* data, size_t length) {
    const off_t at = static_cast<off_t>(sector_) * 512;
    const ssize_t n = write ? ::pwrite(fd_, data, length, at) : ::pread(fd_, data, length, at);
    sector_ += static_cast<uint32_t>(length / 512);
    return n == static_cast<ssize_t>(length);
  }

 private:
  int fd_;
  uint32_t sector_;
  lyr::AlignedBuffer block_;
};

bool UpdateBare(const std::string& device, uint32_t first_sector, const std::vector<uint8_t>& image) {
  const int fd = ::open(device.c_str(), O_RDWR | O_DIRECT | O_CLOEXEC);
  if (fd < 0) return false;
  const uint32_t pieces = static_cast<uint32_t>((image.size() + kPiece - 1) / kPiece);
  // Everything fits before the window end.
  if (first_sector + 2 * pieces * kPieceSectors + 8 > p::kWindowEnd) first_sector = p::kWindowStart;
  Bare bare(fd, first_sector);
  lyr::AlignedBuffer piece(kPiece), read(kPiece);
  bool ok = bare.Command(p::kGroupRecorder, p::kCodeBeginFirmwareUpdate, static_cast<uint32_t>(image.size()));
  for (size_t offset = 0; ok && offset < image.size(); offset += kPiece) {
    std::memset(piece.data(), 0, kPiece);
    std::memcpy(piece.data(), image.data() + offset, std::min<size_t>(kPiece, image.size() - offset));
    ok = bare.Transfer(true, piece.data(), kPiece);
  }
  ok = ok && bare.Command(p::kGroupRecorder, p::kCodeFirmwareStatus) &&
       bare.Transfer(false, read.data(), 512) && lyr::GetU32(read.data()) == image.size() &&
       bare.Command(p::kGroupRecorder, p::kCodeBeginFirmwareReadback);
  for (size_t offset = 0; ok && offset < image.size(); offset += kPiece) {
    std::memset(piece.data(), 0, kPiece);
    std::memcpy(piece.data(), image.data() + offset, std::min<size_t>(kPiece, image.size() - offset));
    ok = bare.Transfer(false, read.data(), kPiece) && std::memcmp(read.data(), piece.data(), kPiece) == 0;
  }
  ok = ok && bare.Command(p::kGroupRecorder, p::kCodeRelease);
  ::close(fd);
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s DEVICE FILE.coe [--floor]\n", argv[0]);
    return 2;
  }
  const std::string device = argv[1];
  const std::string file = argv[2];
  const bool floor = argc > 3 && std::strcmp(argv[3], "--floor") == 0;
  lyr::RecorderLink link;
  link.SetSettleDelay(std::chrono::milliseconds(0));
  if (link.OpenLink(device) != 0 || !link.Identify() || !link.RequestAccess("")) {
    std::fprintf(stderr, "cannot open the recorder at %s\n", device.c_str());
    return 1;
  }
  Quiet quiet;
  const auto start = std::chrono::steady_clock::now();
  bool ok;
  size_t bytes = 0;
  if (floor) {
    // The floor unscrambles the file too, so both sides do the same work.
    lyr::LoadedUpdate loaded = lyr::LoadUpdateFile(file, quiet);
    bytes = loaded.image.size();
    ok = loaded.outcome == lyr::FirmwareUpdateOutcome::kUpdated &&
         UpdateBare(device, link.Transport().WindowPointer(), loaded.image);
  } else {
    ok = lyr::UpdateFirmware(link, 6021, file, quiet) == lyr::FirmwareUpdateOutcome::kUpdated;
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (!ok) {
    std::fprintf(stderr, "update failed\n");
    return 1;
  }
  std::printf("%.6f\n", seconds);
  std::fprintf(stderr, "%zu bytes written and read back in %.3f s\n", bytes, seconds);
  return 0;
}
