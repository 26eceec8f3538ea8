#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>

namespace lyr {

// Decodes a whole Layer II stream with one AudioDecoder, its frames found by
// a Layer2FrameSource that the first frame locks to its version, sample rate
// and channel count; bytes that start no decodable frame are skipped.
struct Layer2StreamResult {
  bool ok = false;             // false when no decoder could be created
  uint64_t frames = 0;         // frames decoded
  uint64_t skipped_bytes = 0;  // bytes that started no decodable frame
  uint32_t sample_rate = 0;    // of the first frame; 0 when none was decoded
  uint32_t channels = 0;       // channels coded in the first frame
};

// `read` fills up to `capacity` bytes and returns how many (0 at the end).
// `write` receives each frame's 16-bit stereo samples (4,608 bytes).
using StreamReader = std::function<size_t(uint8_t* buffer, size_t capacity)>;
using PcmWriter = std::function<void(const int16_t* samples, size_t bytes)>;
Layer2StreamResult DecodeLayer2Stream(const StreamReader& read, const PcmWriter& write);

}  // namespace lyr
