#include "recordings/mpeg_frame_header.h"

#include <gtest/gtest.h>

namespace lyr {
namespace {

struct ValidCase {
  uint32_t header;
  uint32_t version, layer, sample_rate, bit_rate, stereo, frame_length, frame_duration;
};

TEST(ParseMpegFrameHeader, ValidHeaders) {
  const ValidCase cases[] = {
      // MPEG-1 Layer II, 192 kbit/s, 48 kHz, stereo; then padded.
      {0xFFFDA400, 3, 2, 48000, 192000, 1, 576, 24000},
      {0xFFFDA600, 3, 2, 48000, 192000, 1, 577, 24000},
      // Single channel, 44.1 kHz, 128 kbit/s, CRC: 144 * 128000 / 44100 = 417.
      {0xFFFC80C0, 3, 2, 44100, 128000, 0, 417, 26122},
      // MPEG-1 Layer III 320 kbit/s 32 kHz; Layer I 448 kbit/s 32 kHz padded: (12*448000/32000 + 1) * 4.
      {0xFFFBE800, 3, 1, 32000, 320000, 1, 1440, 36000},
      {0xFFFFEA00, 3, 3, 32000, 448000, 1, 676, 36000},
      // MPEG-2 Layer III 160 kbit/s 24 kHz: 72 * 160000 / 24000 = 480.
      {0xFFF3E400, 2, 1, 24000, 160000, 1, 480, 48000},
      // MPEG-2.5 Layer III 64 kbit/s 8 kHz padded: 72 * 64000 / 8000 + 1.
      {0xFFE38A40, 0, 1, 8000, 64000, 1, 577, 144000},
  };
  for (const ValidCase& c : cases) {
    MpegFrameHeaderFacts facts;
    ASSERT_EQ(ParseMpegFrameHeader(c.header, &facts), 1) << std::hex << c.header;
    EXPECT_EQ(facts.version_bits, c.version) << std::hex << c.header;
    EXPECT_EQ(facts.layer_bits, c.layer) << std::hex << c.header;
    EXPECT_EQ(facts.sample_rate, c.sample_rate) << std::hex << c.header;
    EXPECT_EQ(facts.bit_rate, c.bit_rate) << std::hex << c.header;
    EXPECT_EQ(facts.stereo, c.stereo) << std::hex << c.header;
    EXPECT_EQ(facts.frame_length, c.frame_length) << std::hex << c.header;
    EXPECT_EQ(facts.frame_duration, c.frame_duration) << std::hex << c.header;
  }
}

TEST(ParseMpegFrameHeader, InvalidHeaders) {
  const uint32_t cases[] = {
      0xFFDDA400,  // a sync bit clear
      0xFFEDA400,  // reserved version
      0xFFF9A400,  // reserved layer
      0xFFFDAC00,  // sample-rate index 3
      0xFFFD0400,  // free format
      0xFFFDF400,  // bit-rate index 15
      0xFFF5A400,  // MPEG-2 Layer II
      0xFFF7A400,  // MPEG-2 Layer I
      0xFFE59400,  // MPEG-2.5 Layer II
      0xFFE39400,  // MPEG-2.5 Layer III, index 9 (80 kbit/s) has no rate there
  };
  for (uint32_t header : cases) {
    MpegFrameHeaderFacts facts;
    facts.frame_length = 12345;
    EXPECT_EQ(ParseMpegFrameHeader(header, &facts), 0) << std::hex << header;
    EXPECT_EQ(facts.frame_length, 12345u) << std::hex << header;
  }
}

}  // namespace
}  // namespace lyr
