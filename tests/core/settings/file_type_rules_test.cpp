// The FILE TYPE page's rules, shared by the page and lyrctl set-filetype.
#include "settings/file_type_rules.h"

#include <gtest/gtest.h>

namespace {

lyr::FileFormatTemplate Pcm(uint32_t rate = 44100, uint16_t channels = 2) {
  lyr::FileFormatTemplate f;
  f.codecid = 0x70001;
  f.samplerate = rate;
  f.channels = channels;
  f.bits = 16;
  f.bitrate = 16u * channels * rate;
  return f;
}

lyr::FileTypeRequest Ask(uint32_t codec, uint32_t rate) {
  lyr::FileTypeRequest r;
  r.codec = codec;
  r.sample_rate = rate;
  return r;
}

TEST(FileTypeRules, BitRateFollowsThePageRules) {
  // To MPEG without a bit rate: 128 kb/s at once.
  auto mpeg = lyr::ApplyFileTypeRequest(Pcm(), Ask(0x7000F, 44100));
  ASSERT_TRUE(mpeg);
  EXPECT_EQ(mpeg.value().bitrate, 128000u);
  // Staying MPEG keeps the chosen bit rate; a given one replaces it.
  lyr::FileFormatTemplate at192 = mpeg.value();
  at192.bitrate = 192000;
  EXPECT_EQ(lyr::ApplyFileTypeRequest(at192, Ask(0x7000F, 48000)).value().bitrate, 192000u);
  auto with = Ask(0x7000F, 48000);
  with.bit_rate = 384000;
  EXPECT_EQ(lyr::ApplyFileTypeRequest(at192, with).value().bitrate, 384000u);
  // Back to PCM: bits x channels x rate.
  EXPECT_EQ(lyr::ApplyFileTypeRequest(at192, Ask(0x70001, 44100)).value().bitrate, 1411200u);
  auto mono = Ask(0x70001, 48000);
  mono.channels = 1;
  const auto pcm_mono = lyr::ApplyFileTypeRequest(Pcm(), mono);
  ASSERT_TRUE(pcm_mono);
  EXPECT_EQ(pcm_mono.value().bitrate, 768000u);
  EXPECT_EQ(pcm_mono.value().channels, 1u);
  // The PCM rate, given as it must be, is taken.
  auto exact = Ask(0x70001, 32000);
  exact.bit_rate = 1024000;
  EXPECT_TRUE(lyr::ApplyFileTypeRequest(Pcm(), exact));
}

TEST(FileTypeRules, RefusesWhatThePageCannotChoose) {
  struct Case {
    const char* what;
    lyr::FileTypeRequest request;
  };
  auto with = [](uint32_t codec, uint32_t rate, auto change) {
    auto r = Ask(codec, rate);
    change(r);
    return r;
  };
  const auto none = [](lyr::FileTypeRequest&) {};
  const Case cases[] = {
      {"unknown codec", with(0x70002, 44100, none)},
      {"22.05 kHz", with(0x70001, 22050, none)},
      {"three channels", with(0x70001, 44100, [](auto& r) { r.channels = 3; })},
      {"no channels", with(0x70001, 44100, [](auto& r) { r.channels = 0; })},
      {"MPEG at 100 kb/s", with(0x7000F, 44100, [](auto& r) { r.bit_rate = 100000; })},
      {"PCM with another bit rate", with(0x70001, 44100, [](auto& r) { r.bit_rate = 128000; })},
      {"PCM at 24 bits", with(0x70001, 44100, [](auto& r) { r.bits = 24; })},
      {"a 5-character prefix", with(0x70001, 44100, [](auto& r) { r.file_name_prefix = "ABCDE"; })},
      {"a 4-character extension", with(0x70001, 44100, [](auto& r) { r.file_extension = "WAVE"; })},
  };
  for (const Case& c : cases) {
    const auto got = lyr::ApplyFileTypeRequest(Pcm(), c.request);
    EXPECT_FALSE(got) << c.what;
    if (!got) {
      EXPECT_EQ(got.error().code, lyr::kErrorInvalidParameter) << c.what;
    }
  }
  // A recorder holding no valid channel count needs one given.
  EXPECT_FALSE(lyr::ApplyFileTypeRequest(Pcm(44100, 0), Ask(0x70001, 44100)));
}

TEST(FileTypeRules, PrefixAndExtensionFillTheirFieldsWithoutLeftovers) {
  lyr::FileFormatTemplate f = Pcm();
  std::memcpy(f.filename, "LONGNAME", 8);
  auto r = Ask(0x70001, 44100);
  r.file_name_prefix = "AB";
  r.file_extension = "MP2";  // three characters: the field keeps its terminator
  const auto got = lyr::ApplyFileTypeRequest(f, r);
  ASSERT_TRUE(got);
  EXPECT_EQ(std::string(got.value().filename, 8), std::string("AB\0\0\0\0\0\0", 8));
  EXPECT_EQ(std::string(got.value().extname, 4), std::string("MP2\0", 4));
}

}  // namespace
