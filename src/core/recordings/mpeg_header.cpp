#include "recordings/mpeg_header.h"

namespace lyr {
namespace {

// kbit/s by layer bits and bit-rate index; 0 marks "no such rate".
constexpr uint16_t kMpeg1BitRates[4][16] = {
    {},
    {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0},      // Layer III
    {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, 0},     // Layer II
    {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448, 0},  // Layer I
};
// MPEG-2 and MPEG-2.5.
constexpr uint16_t kLowerBitRates[4][16] = {
    {},
    {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0},       // Layer III
    {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0},       // Layer II
    {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256, 0},  // Layer I
};

// Hz by version bits and sample-rate index.
constexpr uint32_t kSampleRates[4][4] = {
    {11025, 12000, 8000, 0},
    {},
    {22050, 24000, 16000, 0},
    {44100, 48000, 32000, 0},
};

}  // namespace

MpegHeader MpegHeader::FromRates(uint32_t version_bits, uint32_t layer_bits, uint32_t sample_rate,
                                 uint32_t bit_rate, uint32_t channel_mode) {
  const uint32_t v = version_bits & 3, layer = layer_bits & 3;
  if (sample_rate == 0 || bit_rate == 0) return MpegHeader();
  uint32_t rate_index = 0, bit_rate_index = 1;
  while (rate_index < 3 && kSampleRates[v][rate_index] != sample_rate) ++rate_index;
  const uint16_t* kbits = (v == kMpeg1 ? kMpeg1BitRates : kLowerBitRates)[layer];
  while (bit_rate_index < 15 && kbits[bit_rate_index] * 1000u != bit_rate) ++bit_rate_index;
  if (rate_index == 3 || bit_rate_index == 15) return MpegHeader();
  return MpegHeader(0xFFE10000u | v << 19 | layer << 17 | bit_rate_index << 12 | rate_index << 10 |
                    (channel_mode & 3) << 6);
}

uint32_t MpegHeader::SampleRate() const { return kSampleRates[VersionBits()][SampleRateIndex()]; }

uint32_t MpegHeader::BitRate() const {
  if (VersionBits() == 1) return 0;
  return 1000u * (IsLowerSamplingFrequency() ? kLowerBitRates : kMpeg1BitRates)[LayerBits()][BitRateIndex()];
}

uint32_t MpegHeader::SamplesPerFrame() const {
  switch (LayerBits()) {
    case kLayer1:
      return 384;
    case kLayer2:
      return 1152;
    case kLayer3:
      return IsLowerSamplingFrequency() ? 576 : 1152;
    default:
      return 0;
  }
}

uint32_t MpegHeader::FrameLength() const {
  if (!IsValid()) return 0;
  // Layer I counts in slots of four bytes.
  if (LayerBits() == kLayer1) return (12 * BitRate() / SampleRate() + Padding()) * 4;
  return SamplesPerFrame() / 8 * BitRate() / SampleRate() + Padding();
}

}  // namespace lyr
