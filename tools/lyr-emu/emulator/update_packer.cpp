#include "emulator/update_packer.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "maintenance/firmware_update.h"
#include "platform/byte_order.h"

namespace lyr_emu {

namespace {
constexpr size_t kPiece = 2048;
constexpr size_t kQuarter = kPiece / 4;
}  // namespace

std::vector<uint8_t> ScrambleImage(std::span<const uint8_t> image) {
  std::vector<uint8_t> out(image.size() + lyr::kUpdateTrailerSize);
  size_t left = image.size();
  const uint8_t* src = image.data();
  uint8_t* dst = out.data();
  // The unscrambler reverses and complements each whole block, then takes its
  // quarters in the order 2, 0, 3, 1: undo both.
  while (left > kPiece) {
    uint8_t block[kPiece];
    for (size_t i = 0; i < kPiece; ++i) block[kPiece - 1 - i] = static_cast<uint8_t>(~src[i]);
    static constexpr size_t kOrder[4] = {2, 0, 3, 1};
    for (size_t q = 0; q < 4; ++q) std::memcpy(dst + kOrder[q] * kQuarter, block + q * kQuarter, kQuarter);
    src += kPiece;
    dst += kPiece;
    left -= kPiece;
  }
  for (size_t i = 0; i < left; ++i) dst[left - 1 - i] = static_cast<uint8_t>(~src[i]);
  uint32_t sum = 0, word_xor = 0;
  lyr::UpdateTrailer({out.data(), image.size()}, &sum, &word_xor);
  lyr::PutU32(out.data() + image.size(), sum);
  lyr::PutU32(out.data() + image.size() + 4, word_xor);
  return out;
}

lyr::Result<std::vector<uint8_t>> PackUpdate(std::span<const uint8_t> image) {
  if (image.size() % 4 != 0)
    return lyr::Error::Code(lyr::kErrorInvalidParameter, "the image is " + std::to_string(image.size()) +
                                                             " bytes, not a whole number of words");
  if (image.size() + lyr::kUpdateTrailerSize > lyr::kMaxUpdateFileSize)
    return lyr::Error::Code(lyr::kErrorInvalidParameter,
                            "the image is " + std::to_string(image.size()) +
                                " bytes; an update holds at most " +
                                std::to_string(lyr::kMaxUpdateFileSize - lyr::kUpdateTrailerSize));
  return ScrambleImage(image);
}

std::vector<uint8_t> MakeSampleImage(size_t size, uint32_t seed) {
  std::vector<uint8_t> image(std::max<size_t>(size, 32) / 4 * 4);
  uint32_t x = seed * 2654435761u + 1;
  for (auto& b : image) {
    x = x * 1103515245u + 12345u;
    b = static_cast<uint8_t>(x >> 24);
  }
  lyr::PutU32(image.data(), lyr::kUpdateImageMagic);
  lyr::PutU32(image.data() + 4, lyr::kUpdateImageMinimumTarget);
  const char* name = lyr::kUpdateImageNames[0];
  std::memset(image.data() + 12, 0, 16);
  std::memcpy(image.data() + 12, name, std::strlen(name));
  const size_t second = std::min(std::strlen(name) + 1, image.size() - 28);
  std::memset(image.data() + 28, 0, second);
  std::memcpy(image.data() + 28, name, second - 1);
  return image;
}

}  // namespace lyr_emu
