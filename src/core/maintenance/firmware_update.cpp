#include "maintenance/firmware_update.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <new>

#include "link/protocol.h"
#include "platform/byte_order.h"

namespace lyr {
namespace {

using Icon = MessageIcon;
constexpr size_t kPiece = protocol::kFirmwarePiece;
constexpr size_t kQuarter = kPiece / 4;

FirmwareUpdateOutcome Refuse(JobReporter& reporter, FirmwareUpdateOutcome outcome, const char* text,
                             const char* caption = kCaptionError, Icon icon = Icon::Error) {
  reporter.Message(text, caption, icon);
  return outcome;
}

// A NUL-terminated text within `field` bytes that is one of the image names.
bool IsImageName(const uint8_t* field, size_t width) {
  const size_t n = strnlen(reinterpret_cast<const char*>(field), width);
  if (n == width) return false;
  for (const char* name : kUpdateImageNames)
    if (n == std::strlen(name) && std::memcmp(field, name, n) == 0) return true;
  return false;
}

// Piece `offset` of the image as the recorder holds it: the image bytes,
// then zeros up to the piece size.
void BuildPiece(std::span<const uint8_t> image, size_t offset, uint8_t* piece) {
  const size_t n = std::min(kPiece, image.size() - offset);
  std::memcpy(piece, image.data() + offset, n);
  std::memset(piece + n, 0, kPiece - n);
}

int Percent(size_t done, size_t total, int from, int span) {
  return total == 0 ? from + span : from + static_cast<int>(static_cast<uint64_t>(done) * span / total);
}

}  // namespace

void UpdateTrailer(std::span<const uint8_t> scrambled, uint32_t* sum, uint32_t* word_xor) {
  uint32_t s = 0, x = 0;
  for (uint8_t b : scrambled) s += b;
  for (size_t i = 0; i + 4 <= scrambled.size(); i += 4) x ^= GetU32(scrambled.data() + i);
  *sum = s;
  *word_xor = x;
}

int UnscrambleUpdate(uint8_t* out, size_t out_capacity, const uint8_t* in, size_t length,
                     size_t* image_length) {
  if (out == nullptr || in == nullptr || image_length == nullptr) return -1;
  if (length % 4 != 0) return -3;
  if (length < kUpdateTrailerSize) return -2;
  const size_t p = length - kUpdateTrailerSize;
  if (out_capacity < p) return -1;
  uint32_t sum = 0, word_xor = 0;
  UpdateTrailer({in, p}, &sum, &word_xor);
  if (sum != GetU32(in + p) || word_xor != GetU32(in + p + 4)) return -2;

  size_t left = p;
  const uint8_t* src = in;
  uint8_t* dst = out;
  // Whole blocks while more than one block remains: quarters in the order
  // 2, 0, 3, 1, then the block reversed and complemented.
  while (left > kPiece) {
    static constexpr size_t kOrder[4] = {2, 0, 3, 1};
    std::array<uint8_t, kPiece> block;
    for (size_t q = 0; q < 4; ++q)
      std::memcpy(block.data() + q * kQuarter, src + kOrder[q] * kQuarter, kQuarter);
    for (size_t i = 0; i < kPiece; ++i) dst[i] = static_cast<uint8_t>(~block[kPiece - 1 - i]);
    src += kPiece;
    dst += kPiece;
    left -= kPiece;
  }
  // The last 1 to 2048 bytes: reversed and complemented only.
  for (size_t i = 0; i < left; ++i) dst[i] = static_cast<uint8_t>(~src[left - 1 - i]);
  *image_length = p;
  return 0;
}

bool IsUpdateImageHeaderValid(std::span<const uint8_t> image) {
  if (image.size() < kUpdateImageTextOffset2 + 1) return false;
  if (GetU32(image.data()) != kUpdateImageMagic) return false;
  return IsImageName(image.data() + kUpdateImageTextOffset1, kUpdateImageTextField1) &&
         IsImageName(image.data() + kUpdateImageTextOffset2, image.size() - kUpdateImageTextOffset2);
}

uint32_t UpdateImageTarget(std::span<const uint8_t> image) {
  return image.size() >= 8 ? GetU32(image.data() + 4) : 0;
}

LoadedUpdate LoadUpdateFile(const std::string& path, JobReporter& reporter) {
  LoadedUpdate loaded;
  // Without O_NONBLOCK a FIFO would hold open() until a writer came; it is
  // refused below like anything else that is not a regular file.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  struct stat st {};
  if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    if (fd >= 0) ::close(fd);
    Refuse(reporter, loaded.outcome, kUpdateReadError);
    return loaded;
  }
  // Refused by its size before a byte of it is read: too long, or too short
  // to hold even its trailer (an empty or cut file is no update file).
  const auto length = static_cast<uint64_t>(st.st_size);
  if (length > kMaxUpdateFileSize || length < kUpdateTrailerSize) {
    ::close(fd);
    Refuse(reporter, loaded.outcome, kUpdateFormatError);
    return loaded;
  }
  std::vector<uint8_t> file;
  try {
    file.resize(length);
    loaded.image.resize(length);
  } catch (const std::bad_alloc&) {
    ::close(fd);
    Refuse(reporter, loaded.outcome, kUpdateMemoryError);
    loaded.image.clear();
    return loaded;
  }
  size_t got = 0;
  while (got < length) {
    const ssize_t n = ::read(fd, file.data() + got, length - got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += static_cast<size_t>(n);
  }
  ::close(fd);
  if (got != length) {
    loaded.image.clear();
    Refuse(reporter, loaded.outcome, kUpdateReadError);
    return loaded;
  }
  size_t image_length = 0;
  const int unscrambled =
      UnscrambleUpdate(loaded.image.data(), loaded.image.size(), file.data(), file.size(), &image_length);
  if (unscrambled != 0) {
    loaded.image.clear();
    Refuse(reporter, loaded.outcome, unscrambled == -1 ? kUpdateMemoryError : kUpdateFormatError);
    return loaded;
  }
  loaded.image.resize(image_length);
  if (!IsUpdateImageHeaderValid(loaded.image)) {
    loaded.image.clear();
    Refuse(reporter, loaded.outcome, kUpdateFormatError);
    return loaded;
  }
  loaded.outcome = FirmwareUpdateOutcome::kUpdated;
  return loaded;
}

FirmwareUpdateOutcome SendFirmwareImage(RecorderLink& link, uint16_t recorder_firmware,
                                        std::span<const uint8_t> image, JobReporter& reporter) {
  using O = FirmwareUpdateOutcome;
  if (UpdateImageTarget(image) < kUpdateImageMinimumTarget || recorder_firmware < protocol::kMinimumFirmware)
    return Refuse(reporter, O::kNotLyr, kUpdateNotLyr, kCaptionWarning, Icon::Warning);
  // Nothing has been sent yet: the last moment a stop leaves the recorder as it was.
  if (reporter.CancelRequested()) return O::kCancelled;

  const size_t p = image.size();
  if (!link.BeginFirmwareUpdate(static_cast<uint32_t>(p)))
    return Refuse(reporter, O::kUpdateFailed, kUpdateProblem);
  // The writes are never cut short: a stop asked during them takes effect
  // once the whole image is on the recorder.
  std::array<uint8_t, kPiece> piece;
  for (size_t offset = 0; offset < p; offset += kPiece) {
    reporter.SetProgressText(Percent(offset, p, 0, 50), "Writing the firmware");
    BuildPiece(image, offset, piece.data());
    if (!link.WriteFirmwareData(piece.data(), kPiece))
      return Refuse(reporter, O::kUpdateFailed, kUpdateProblem);
  }
  if (reporter.CancelRequested()) return O::kVerifyCancelled;

  FirmwareStatusRecord status{};
  if (!link.GetFirmwareStatus(status) || !link.BeginFirmwareReadback())
    return Refuse(reporter, O::kVerifyProblem, kVerifyProblem);
  // The recorder must give back exactly the image: a longer read-back would
  // compare pieces past its end, a shorter one would leave pieces unchecked.
  const uint32_t readback_length = GetU32(status.data());
  if (readback_length != p) return Refuse(reporter, O::kVerifyFailed, kVerifyFailed);
  std::array<uint8_t, kPiece> read;
  for (size_t offset = 0; offset < readback_length; offset += kPiece) {
    if (reporter.CancelRequested()) return O::kVerifyCancelled;
    reporter.SetProgressText(Percent(offset, p, 50, 50), "Verifying the firmware");
    BuildPiece(image, offset, piece.data());
    if (!link.ReadFirmwareData(read.data(), kPiece))
      return Refuse(reporter, O::kVerifyProblem, kVerifyProblem);
    if (read != piece) return Refuse(reporter, O::kVerifyFailed, kVerifyFailed);
  }
  reporter.SetProgressText(100, "Verified");
  // The recorder restarts with the new firmware once unplugged.
  link.ReleaseRecorder(true);
  reporter.Message(kUpdateSucceeded, kCaptionInformation, Icon::Information);
  return O::kUpdated;
}

FirmwareUpdateOutcome UpdateFirmware(RecorderLink& link, uint16_t recorder_firmware, const std::string& path,
                                     JobReporter& reporter) {
  LoadedUpdate loaded = LoadUpdateFile(path, reporter);
  if (loaded.outcome != FirmwareUpdateOutcome::kUpdated) return loaded.outcome;
  return SendFirmwareImage(link, recorder_firmware, loaded.image, reporter);
}

}  // namespace lyr
