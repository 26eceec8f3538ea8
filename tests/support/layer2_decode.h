#pragma once
// What the decoder makes of a whole Layer II byte stream on its own, as
// 16-bit interleaved stereo samples: the reference the playback tests hold
// the player to.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

#include "decoder/layer2_stream.h"

namespace lyr_test {

inline std::vector<int16_t> DecodeLayer2Bytes(std::span<const uint8_t> bytes) {
  std::vector<int16_t> pcm;
  size_t at = 0;
  lyr::DecodeLayer2Stream(
      [&](uint8_t* buffer, size_t capacity) {
        const size_t n = std::min(capacity, bytes.size() - at);
        std::memcpy(buffer, bytes.data() + at, n);
        at += n;
        return n;
      },
      [&](const int16_t* samples, size_t length) { pcm.insert(pcm.end(), samples, samples + length / 2); });
  return pcm;
}

}  // namespace lyr_test
