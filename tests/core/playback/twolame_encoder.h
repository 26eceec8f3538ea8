#pragma once
#include <cstdint>
#include <vector>

namespace lyr::test {

// Test streams come from libtwolame, an encoder independent of our decoder.
enum class StreamMode { kStereo, kJointStereo, kDualChannel, kSingleChannel };

struct EncoderSettings {
  int sample_rate = 48000;
  StreamMode mode = StreamMode::kStereo;
  int kbits = 192;
  bool crc = false;
  bool padding = false;
};

// `pcm` is interleaved 16-bit audio with one channel for kSingleChannel and
// two otherwise. Returns the whole Layer II stream, or empty when twolame
// refuses the settings.
std::vector<uint8_t> EncodeLayer2(const std::vector<int16_t>& pcm, const EncoderSettings& settings);

const char* ModeName(StreamMode mode);

}  // namespace lyr::test
