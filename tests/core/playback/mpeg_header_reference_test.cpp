// Our frame header reader against libmpg123 on every valid header: a stream
// of silent frames laid out with our frame lengths, and what libmpg123 reads
// from its first frame.
#include <gtest/gtest.h>
#include <mpg123.h>

#include <vector>

#include "recordings/mpeg_header.h"

namespace lyr {
namespace {

TEST(MpegHeaderReference, EveryValidHeaderReadsAsLibmpg123ReadsIt) {
  int checked = 0;
  for (uint32_t fields = 0; fields < (1u << 12); ++fields) {
    // Version, layer, bit rate, sample rate and padding (bits 20..17, 15..9);
    // no CRC; stereo or single channel.
    const uint32_t mode = (fields & 1) ? MpegHeader::kSingleChannel : MpegHeader::kStereo;
    const uint32_t word = 0xFFE10000u | (fields >> 8) << 17 | ((fields >> 1) & 127) << 9 | mode << 6;
    const MpegHeader header(word);
    if (!header.IsValid()) continue;

    std::vector<uint8_t> stream;
    for (int frame = 0; frame < 4; ++frame) {
      const size_t at = stream.size();
      stream.resize(at + header.FrameLength(), 0);
      for (int i = 0; i < 4; ++i)
        stream[at + static_cast<size_t>(i)] = static_cast<uint8_t>(word >> (24 - 8 * i));
    }
    mpg123_handle* mh = mpg123_new(nullptr, nullptr);
    ASSERT_NE(mh, nullptr);
    mpg123_param(mh, MPG123_ADD_FLAGS, MPG123_QUIET, 0);
    ASSERT_EQ(mpg123_open_feed(mh), MPG123_OK);
    ASSERT_EQ(mpg123_feed(mh, stream.data(), stream.size()), MPG123_OK);
    off_t number = 0;
    unsigned char* audio = nullptr;
    size_t bytes = 0;
    int rc = mpg123_decode_frame(mh, &number, &audio, &bytes);
    if (rc == MPG123_NEW_FORMAT) rc = mpg123_decode_frame(mh, &number, &audio, &bytes);
    EXPECT_EQ(rc, MPG123_OK) << std::hex << word;
    mpg123_frameinfo info{};
    ASSERT_EQ(mpg123_info(mh, &info), MPG123_OK) << std::hex << word;
    EXPECT_EQ(static_cast<uint32_t>(info.framesize), header.FrameLength()) << std::hex << word;
    EXPECT_EQ(static_cast<uint32_t>(info.rate), header.SampleRate()) << std::hex << word;
    EXPECT_EQ(static_cast<uint32_t>(info.bitrate) * 1000, header.BitRate()) << std::hex << word;
    EXPECT_EQ(static_cast<uint32_t>(mpg123_spf(mh)), header.SamplesPerFrame()) << std::hex << word;
    EXPECT_EQ(info.layer, 4 - static_cast<int>(header.LayerBits())) << std::hex << word;
    EXPECT_EQ(info.mode == MPG123_M_MONO ? 1u : 2u, header.Channels()) << std::hex << word;
    mpg123_delete(mh);
    ++checked;
  }
  // 3 versions, 3 layers, 14 bit rates, 3 sample rates, padding, 2 modes.
  EXPECT_EQ(checked, 3 * 3 * 14 * 3 * 2 * 2);
}

}  // namespace
}  // namespace lyr
