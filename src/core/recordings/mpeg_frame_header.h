#pragma once
#include <cstdint>

namespace lyr {

// What one MPEG audio frame header says, as playback and the audio CD job use it.
struct MpegFrameHeaderFacts {
  uint32_t version_bits = 0;    // 3 = MPEG-1, 2 = MPEG-2, 0 = MPEG-2.5
  uint32_t layer_bits = 0;      // 3 = Layer I, 2 = Layer II, 1 = Layer III
  uint32_t sample_rate = 0;     // Hz
  uint32_t bit_rate = 0;        // bit/s
  uint32_t stereo = 0;          // 1 unless the channel mode is single channel
  uint32_t frame_length = 0;    // bytes, padding included
  uint32_t frame_duration = 0;  // 1,152,000,000 / sample rate: microseconds of 1152 samples
};

// `header` is the first four stream bytes, most significant byte first.
// Returns 1 and fills `facts` for a valid header; 0 (facts untouched) otherwise.
// MPEG-2 and MPEG-2.5 are accepted for Layer III only.
int ParseMpegFrameHeader(uint32_t header, MpegFrameHeaderFacts* facts);

}  // namespace lyr
