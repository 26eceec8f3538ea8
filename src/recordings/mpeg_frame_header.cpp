#include "recordings/mpeg_frame_header.h"

namespace lyr {
namespace {

constexpr uint32_t kVersionMpeg1 = 3;
constexpr uint32_t kVersionMpeg2 = 2;
constexpr uint32_t kLayer1 = 3;
constexpr uint32_t kLayer3 = 1;

// kbit/s by bit-rate index; 0 marks "no such rate".
constexpr uint16_t kMpeg1Rates[3][16] = {
    {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448, 0},  // Layer I
    {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, 0},     // Layer II
    {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0},      // Layer III
};
constexpr uint16_t kMpeg2Layer3Rates[16] = {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0};
constexpr uint16_t kMpeg25Layer3Rates[16] = {0, 8, 16, 24, 32, 40, 48, 56, 64, 0, 0, 0, 0, 0, 0, 0};

constexpr uint32_t kMpeg1SampleRates[3] = {44100, 48000, 32000};

}  // namespace

int ParseMpegFrameHeader(uint32_t header, MpegFrameHeaderFacts* facts) {
  if ((header >> 21) != 0x7FF) return 0;
  const uint32_t version = (header >> 19) & 3;
  const uint32_t layer = (header >> 17) & 3;
  if (version == 1 || layer == 0) return 0;

  const uint32_t rate_index = (header >> 10) & 3;
  if (rate_index == 3) return 0;
  uint32_t sample_rate = kMpeg1SampleRates[rate_index];
  if (version == kVersionMpeg2) sample_rate /= 2;
  if (version == 0) sample_rate /= 4;

  const uint32_t bit_rate_index = (header >> 12) & 15;
  uint32_t kbits = 0;
  if (version == kVersionMpeg1) {
    kbits = kMpeg1Rates[3 - layer][bit_rate_index];
  } else if (layer == kLayer3) {
    kbits = version == kVersionMpeg2 ? kMpeg2Layer3Rates[bit_rate_index] : kMpeg25Layer3Rates[bit_rate_index];
  }
  if (kbits == 0) return 0;
  const uint32_t bit_rate = kbits * 1000;

  const uint32_t padding = (header >> 9) & 1;
  uint32_t frame_length;
  if (layer == kLayer1) {
    frame_length = (12 * bit_rate / sample_rate + padding) * 4;
  } else if (layer == kLayer3 && version != kVersionMpeg1) {
    frame_length = 72 * bit_rate / sample_rate + padding;
  } else {
    frame_length = 144 * bit_rate / sample_rate + padding;
  }

  facts->version_bits = version;
  facts->layer_bits = layer;
  facts->sample_rate = sample_rate;
  facts->bit_rate = bit_rate;
  facts->stereo = ((header >> 6) & 3) == 3 ? 0 : 1;
  facts->frame_length = frame_length;
  facts->frame_duration = 1152000000u / sample_rate;
  return 1;
}

}  // namespace lyr
