// Update files (".coe") from anywhere: the unscrambling and the header
// checks must take any bytes without reading or writing past the buffers,
// and an accepted file must have the trailer it was checked against.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "maintenance/firmware_update.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The exact size, so that a read or write past the end is seen.
  std::vector<uint8_t> in(data, data + size);
  std::vector<uint8_t> out(size);
  size_t image_length = 0;
  const int result = lyr::UnscrambleUpdate(out.data(), out.size(), in.data(), in.size(), &image_length);
  if (result != 0) return 0;
  if (image_length + lyr::kUpdateTrailerSize != size) std::abort();
  uint32_t sum = 0, word_xor = 0;
  lyr::UpdateTrailer({in.data(), image_length}, &sum, &word_xor);
  if (sum != (in[image_length] | in[image_length + 1] << 8 | in[image_length + 2] << 16 |
              static_cast<uint32_t>(in[image_length + 3]) << 24))
    std::abort();
  out.resize(image_length);
  if (lyr::IsUpdateImageHeaderValid(out)) (void)lyr::UpdateImageTarget(out);
  return 0;
}
