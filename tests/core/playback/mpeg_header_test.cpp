#include "recordings/mpeg_header.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "decoder/audio_decoder.h"
#include "recordings/mpeg_frame_header.h"

namespace lyr {
namespace {

// Every header with the sync word: all versions, layers, rate indexes,
// padding, CRC and channel modes.
std::vector<uint32_t> EveryHeader() {
  std::vector<uint32_t> words;
  for (uint32_t fields = 0; fields < (1u << 14); ++fields) {
    // version, layer, CRC, bit rate, sample rate, padding: bits 20..9; channel mode: bits 7..6.
    const uint32_t high = fields >> 2, mode = fields & 3;
    words.push_back(0xFFE00000u | high << 9 | mode << 6);
  }
  return words;
}

// The export facts, the decoder and the frame search take their frame
// lengths from one reader: where two of them accept a header they agree on
// where the next frame starts.
TEST(MpegHeader, DecoderAndExportFactsAgreeOnEveryHeader) {
  std::unique_ptr<AudioDecoder, void (*)(AudioDecoder*)> decoder(AudioDecoderCreate(), AudioDecoderDestroy);
  ASSERT_NE(decoder, nullptr);
  std::vector<uint8_t> input(4096, 0);
  std::vector<int16_t> pcm(kAudioDecoderFrameOutputBytes / 2);
  int decoded = 0, both = 0;
  for (uint32_t word : EveryHeader()) {
    const MpegHeader header(word);
    for (int i = 0; i < 4; ++i) input[static_cast<size_t>(i)] = static_cast<uint8_t>(word >> (24 - 8 * i));
    size_t produced = 0;
    const size_t consumed =
        AudioDecoderDecode(decoder.get(), input.data(), input.size(), pcm.data(), &produced);
    const bool layer2 = header.IsValid() && header.LayerBits() == MpegHeader::kLayer2;
    ASSERT_EQ(consumed, layer2 ? header.FrameLength() : 0u) << std::hex << word;
    decoded += consumed != 0;

    MpegFrameHeaderFacts facts;
    if (ParseMpegFrameHeader(word, &facts) == 0) continue;
    ASSERT_TRUE(header.IsValid()) << std::hex << word;
    ASSERT_EQ(facts.frame_length, header.FrameLength()) << std::hex << word;
    ASSERT_EQ(facts.sample_rate, header.SampleRate()) << std::hex << word;
    ASSERT_EQ(facts.bit_rate, header.BitRate()) << std::hex << word;
    if (consumed != 0) {
      ASSERT_EQ(consumed, facts.frame_length) << std::hex << word;
      ++both;
    }
  }
  // MPEG-1, -2 and -2.5 Layer II at 14 bit rates, 3 sample rates, with and
  // without padding and CRC, in 4 channel modes; MPEG-1 of those for both.
  EXPECT_EQ(decoded, 3 * 14 * 3 * 2 * 2 * 4);
  EXPECT_EQ(both, decoded / 3);
}

// The recording reader knows a recording's frames from its record's rates.
TEST(MpegHeader, FromRatesFindsTheIndexesOrNothing) {
  for (uint32_t word : EveryHeader()) {
    const MpegHeader header(word);
    if (!header.IsValid()) continue;
    const MpegHeader made =
        MpegHeader::FromRates(header.VersionBits(), header.LayerBits(), header.SampleRate(), header.BitRate(),
                              header.ChannelMode());
    // The same header without padding, CRC and mode extension.
    ASSERT_EQ(made.Word(), (word | 0x10000) & ~0x230u) << std::hex << word;
  }
  const struct {
    uint32_t version, layer, sample_rate, bit_rate;
  } refused[] = {
      {MpegHeader::kMpeg1, MpegHeader::kLayer2, 0, 192000},
      {MpegHeader::kMpeg1, MpegHeader::kLayer2, 48000, 0},
      {MpegHeader::kMpeg1, MpegHeader::kLayer2, 24000, 192000},  // a rate of MPEG-2
      {MpegHeader::kMpeg1, MpegHeader::kLayer2, 48000, 8000},    // a bit rate of MPEG-2
      {MpegHeader::kMpeg1, MpegHeader::kLayer2, 48000, 192},     // kbit/s, not bit/s
      {MpegHeader::kMpeg1, MpegHeader::kLayer2, 48000, 448000},  // Layer I only
      {MpegHeader::kMpeg2, MpegHeader::kLayer3, 48000, 64000},
      {1, MpegHeader::kLayer2, 48000, 192000},  // reserved version
      {MpegHeader::kMpeg1, 0, 48000, 192000},   // reserved layer
  };
  for (const auto& r : refused) {
    EXPECT_FALSE(
        MpegHeader::FromRates(r.version, r.layer, r.sample_rate, r.bit_rate, MpegHeader::kStereo).IsValid())
        << r.sample_rate << " " << r.bit_rate;
  }
}

}  // namespace
}  // namespace lyr
