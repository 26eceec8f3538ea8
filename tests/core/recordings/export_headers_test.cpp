#include "recordings/export_headers.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/byte_order.h"
#include "platform/last_error.h"
#include "core/recordings/record_fixture.h"

namespace {

using lyr::RecordingRecord;
namespace rec = lyr::record;

RecordingRecord Record(uint32_t codec, uint32_t rate, uint32_t bit_rate, uint16_t bits, uint16_t channels,
                       uint32_t size) {
  return lyr_test::MakeRecord(codec, rate, bit_rate, bits, channels, size);
}

using Builder = int (*)(const RecordingRecord&, uint8_t*, uint32_t*);
int Bwf(const RecordingRecord& r, uint8_t* b, uint32_t* s) {
  return lyr::BuildBwfHeader(r, b, s, "LYR0042.wav", "SER123");
}
int Wave(const RecordingRecord& r, uint8_t* b, uint32_t* s) { return lyr::BuildWaveHeader(r, b, s); }

std::vector<uint8_t> Build(Builder build, const RecordingRecord& r) {
  uint32_t size = 0;
  EXPECT_EQ(build(r, nullptr, &size), 0);
  std::vector<uint8_t> h(size, 0xEE);
  EXPECT_EQ(build(r, h.data(), &size), 1);
  EXPECT_EQ(size, h.size());
  return h;
}

std::string Str(const std::vector<uint8_t>& h, size_t offset, size_t n) {
  return std::string(reinterpret_cast<const char*>(h.data() + offset), n);
}
uint32_t U32(const std::vector<uint8_t>& h, size_t offset) { return lyr::GetU32(h.data() + offset); }
uint16_t U16(const std::vector<uint8_t>& h, size_t offset) { return lyr::GetU16(h.data() + offset); }

TEST(ExportHeaders, SizeQueryProtocol) {
  const RecordingRecord pcm = Record(lyr::protocol::kCodecLinearPcm, 48000, 0, 16, 2, 1000);
  const RecordingRecord mpeg = Record(lyr::protocol::kCodecMpegLayer2, 48000, 192000, 16, 2, 1000);
  // Codecs other than linear PCM are written as MPEG.
  const RecordingRecord other = Record(0x12345, 48000, 192000, 16, 2, 1000);
  struct Case {
    Builder build;
    const RecordingRecord* record;
    uint32_t size;
  } cases[] = {{Bwf, &pcm, 724}, {Bwf, &mpeg, 780},  {Bwf, &other, 780},
               {Wave, &pcm, 44}, {Wave, &mpeg, 100}, {Wave, &other, 100}};
  for (const Case& c : cases) {
    std::vector<uint8_t> buffer(c.size, 0xEE);
    uint32_t size = c.size - 1;
    lyr::SetLastError(0);
    EXPECT_EQ(c.build(*c.record, buffer.data(), &size), 0);
    EXPECT_EQ(size, c.size);
    EXPECT_EQ(lyr::GetLastError(), lyr::kErrorNotEnoughMemory);
    EXPECT_EQ(buffer, std::vector<uint8_t>(c.size, 0xEE)) << "nothing written";
    size = c.size + 10;  // a larger buffer reports the header's own size
    EXPECT_EQ(c.build(*c.record, buffer.data(), &size), 1);
    EXPECT_EQ(size, c.size);
  }
  uint32_t size = 0;
  lyr::SetLastError(0);
  EXPECT_EQ(lyr::BuildCdWaveHeader(5, nullptr, &size), 0);
  EXPECT_EQ(size, 44u);
  EXPECT_EQ(lyr::GetLastError(), lyr::kErrorNotEnoughMemory);
}

TEST(ExportHeaders, BwfPcm) {
  const auto h = Build(Bwf, Record(lyr::protocol::kCodecLinearPcm, 48000, 0, 24, 2, 1000000));
  EXPECT_EQ(Str(h, 0, 4), "RIFF");
  EXPECT_EQ(U32(h, 4), 1000000u + 716);
  EXPECT_EQ(Str(h, 8, 8), "WAVEbext");
  EXPECT_EQ(U32(h, 16), 672u);
  EXPECT_STREQ(reinterpret_cast<const char*>(&h[20]), "LYR0042.wav");
  EXPECT_EQ(Str(h, 276, 10), std::string("TORVI LYR\0", 10));
  EXPECT_STREQ(reinterpret_cast<const char*>(&h[308]), "SER123");
  // Date and time fill their fields exactly; the stored (even) second is used.
  EXPECT_EQ(Str(h, 340, 18), "2011-08-1909:05:36");
  EXPECT_EQ(std::vector<uint8_t>(h.begin() + 358, h.begin() + 368), std::vector<uint8_t>(10, 0));
  EXPECT_STREQ(reinterpret_cast<const char*>(&h[368]), "Interview, take 2");
  EXPECT_EQ(h[621], 0);
  const std::string history = "A=PCM,F=48000,W=24,M=stereo\r\nA=PCM,F=48000,W=24,M=stereo\r\n";
  EXPECT_EQ(Str(h, 622, history.size() + 1), history + '\0');
  EXPECT_EQ(Str(h, 692, 4), "fmt ");
  EXPECT_EQ(U32(h, 696), 16u);
  EXPECT_EQ(U16(h, 700), 1);
  EXPECT_EQ(U16(h, 702), 2);
  EXPECT_EQ(U32(h, 704), 48000u);
  EXPECT_EQ(U32(h, 708), 288000u);
  EXPECT_EQ(U16(h, 712), 6);
  EXPECT_EQ(U16(h, 714), 24);
  EXPECT_EQ(Str(h, 716, 4), "data");
  EXPECT_EQ(U32(h, 720), 1000000u);
}

TEST(ExportHeaders, BwfMpeg) {
  const auto h = Build(Bwf, Record(lyr::protocol::kCodecMpegLayer2, 48000, 192000, 16, 2, 240000));
  EXPECT_EQ(U32(h, 4), 240000u + 772);
  // The MPEG header describes itself with the recording name.
  EXPECT_EQ(Str(h, 20, 8), std::string("LYR0042\0", 8));
  const std::string history = "A=PCM,F=48000,W=16,M=stereo\r\nA=MPEG1L2,F=48000,B=192,W=16,M=stereo\r\n";
  EXPECT_EQ(Str(h, 622, history.size() + 1), history + '\0');
  const uint8_t expected_fmt[] = {'f', 'm', 't', ' ', 40, 0, 0, 0, 0x50, 0, 2, 0, 0x80, 0xBB, 0,
                                  0,                               // tag, channels, rate
                                  0xC0, 0x5D, 0, 0,                // 24,000 bytes a second
                                  0x40, 0x02, 16, 0, 22, 0, 2, 0,  // align 576, bits, 22, layer
                                  0x00, 0xEE, 0x02, 0x00, 2, 0, 0, 0, 1, 0, 0x18, 0,  // 192000, mode, ext,
                                                                                      // emph, flags
                                  0, 0, 0, 0, 0, 0, 0, 0,                             // time stamp
                                  'f', 'a', 'c', 't', 4, 0, 0, 0, 0x00, 0x53, 0x07, 0x00,  // 480,000 samples
                                  'm', 'e', 'x', 't', 12, 0, 0, 0, 3, 0, 0x80, 0x04, 5, 0, 7, 0, 0, 0, 0, 0,
                                  'd', 'a', 't', 'a', 0x80, 0xA9, 0x03, 0x00};
  ASSERT_EQ(sizeof expected_fmt, 780u - 692);
  EXPECT_EQ(std::vector<uint8_t>(h.begin() + 692, h.end()),
            std::vector<uint8_t>(expected_fmt, expected_fmt + sizeof expected_fmt));
}

TEST(ExportHeaders, MonoModeWordAndHeadMode) {
  const auto h = Build(Bwf, Record(lyr::protocol::kCodecMpegLayer2, 32000, 64000, 16, 1, 8000));
  const std::string history = "A=PCM,F=32000,W=16,M=mono  \r\nA=MPEG1L2,F=32000,B=064,W=16,M=mono  \r\n";
  EXPECT_EQ(Str(h, 622, history.size()), history);
  EXPECT_EQ(U16(h, 724), 8);
  const auto p = Build(Bwf, Record(lyr::protocol::kCodecLinearPcm, 8000, 0, 8, 1, 8000));
  EXPECT_EQ(Str(p, 622, 58), "A=PCM,F=08000,W=08,M=mono  \r\nA=PCM,F=08000,W=08,M=mono  \r\n");
}

TEST(ExportHeaders, PlainWave) {
  const auto pcm = Build(Wave, Record(lyr::protocol::kCodecLinearPcm, 44100, 0, 16, 2, 0x01020304));
  const uint8_t expected[44] = {'R', 'I', 'F',  'F',  0x28, 0x03, 0x02, 0x01, 'W',  'A',  'V',
                                'E', 'f', 'm',  't',  ' ',  16,   0,    0,    0,    1,    0,
                                2,   0,   0x44, 0xAC, 0,    0,    0x10, 0xB1, 0x02, 0,    4,
                                0,   16,  0,    'd',  'a',  't',  'a',  0x04, 0x03, 0x02, 0x01};
  EXPECT_EQ(pcm, std::vector<uint8_t>(expected, expected + 44));

  // The MPEG WAVE carries the same fmt, fact and mext chunks as the MPEG BWF.
  const RecordingRecord r = Record(lyr::protocol::kCodecMpegLayer2, 48000, 192000, 16, 2, 240000);
  const auto mpeg = Build(Wave, r);
  const auto bwf = Build(Bwf, r);
  EXPECT_EQ(Str(mpeg, 0, 4), "RIFF");
  EXPECT_EQ(U32(mpeg, 4), 240000u + 92);
  EXPECT_EQ(Str(mpeg, 8, 4), "WAVE");
  EXPECT_EQ(std::vector<uint8_t>(mpeg.begin() + 12, mpeg.end()),
            std::vector<uint8_t>(bwf.begin() + 692, bwf.end()));
}

TEST(ExportHeaders, CdWave) {
  std::vector<uint8_t> h(44);
  uint32_t size = 44;
  ASSERT_EQ(lyr::BuildCdWaveHeader(1764000, h.data(), &size), 1);
  const uint8_t expected[44] = {'R', 'I', 'F',  'F',  0xC4, 0xEA, 0x1A, 0,    'W',  'A',  'V',
                                'E', 'f', 'm',  't',  ' ',  16,   0,    0,    0,    1,    0,
                                2,   0,   0x44, 0xAC, 0,    0,    0x10, 0xB1, 0x02, 0,    4,
                                0,   16,  0,    'd',  'a',  't',  'a',  0xA0, 0xEA, 0x1A, 0};
  EXPECT_EQ(h, std::vector<uint8_t>(expected, expected + 44));
}

uint64_t U64(const std::vector<uint8_t>& h, size_t offset) {
  return U32(h, offset) | uint64_t{U32(h, offset + 4)} << 32;
}

TEST(ExportHeaders, SizesBeyondThirtyTwoBitsGiveRf64) {
  // Each header at the largest data size its RIFF size still holds, and one
  // byte more; the file is the header and the data.
  const RecordingRecord pcm = Record(lyr::protocol::kCodecLinearPcm, 48000, 0, 16, 2, 0);
  const RecordingRecord mpeg = Record(lyr::protocol::kCodecMpegLayer2, 48000, 384000, 16, 2, 0);
  const struct {
    Builder build;
    const RecordingRecord* record;
    uint32_t plain_size;
    size_t data_chunk;  // offset of "data" in the plain header
  } cases[] = {{Wave, &pcm, 44, 36}, {Wave, &mpeg, 100, 92}, {Bwf, &pcm, 724, 716}, {Bwf, &mpeg, 780, 772}};
  for (const auto& c : cases) {
    RecordingRecord r = *c.record;
    const uint32_t largest_plain = 0xFFFFFFFFu - (c.plain_size - 8);
    r.SetU32(rec::kDataSize, largest_plain);
    const auto plain = Build(c.build, r);
    ASSERT_EQ(plain.size(), c.plain_size);
    EXPECT_EQ(Str(plain, 0, 4), "RIFF");
    EXPECT_EQ(U32(plain, 4), 0xFFFFFFFFu);
    EXPECT_EQ(U32(plain, c.data_chunk + 4), largest_plain);

    for (const uint32_t data : {largest_plain + 1, 0xFFFFFFFFu}) {
      SCOPED_TRACE(std::to_string(c.plain_size) + " bytes, data " + std::to_string(data));
      r.SetU32(rec::kDataSize, data);
      const auto h = Build(c.build, r);
      ASSERT_EQ(h.size(), c.plain_size + 36u);
      EXPECT_EQ(Str(h, 0, 4), "RF64");
      EXPECT_EQ(U32(h, 4), 0xFFFFFFFFu);
      EXPECT_EQ(Str(h, 8, 8), "WAVEds64");
      EXPECT_EQ(U32(h, 16), 28u);
      EXPECT_EQ(U64(h, 20), uint64_t{data} + h.size() - 8);
      EXPECT_EQ(U64(h, 28), data);
      const uint64_t samples = r.IsLinearPcm() ? data / 4 : uint64_t{data} / 48000 * 48000;
      EXPECT_EQ(U64(h, 36), samples);
      EXPECT_EQ(U32(h, 44), 0u) << "no table";
      // The rest is the plain header's chunks, data size deferred to ds64.
      EXPECT_EQ(Str(h, c.data_chunk + 36, 4), "data");
      EXPECT_EQ(U32(h, c.data_chunk + 36 + 4), 0xFFFFFFFFu);
      auto expected = std::vector<uint8_t>(plain.begin() + 12, plain.begin() + c.data_chunk);
      if (!r.IsLinearPcm()) lyr::PutU32(&expected[c.data_chunk - 12 - 24], static_cast<uint32_t>(samples));
      EXPECT_EQ(std::vector<uint8_t>(h.begin() + 48, h.begin() + 36 + c.data_chunk), expected);
    }
  }
  // The BWF keeps its bext chunk, behind ds64.
  RecordingRecord r = pcm;
  r.SetU32(rec::kDataSize, 4294967280u);
  const auto h = Build(Bwf, r);
  EXPECT_EQ(Str(h, 48, 4), "bext");
  EXPECT_STREQ(reinterpret_cast<const char*>(&h[36 + 20]), "LYR0042.wav");
  EXPECT_EQ(Str(h, 36 + 692, 4), "fmt ");
}

TEST(ExportHeaders, MoreMpegSamplesThanThirtyTwoBitsHoldGiveRf64) {
  // 32 kbit/s at 48 kHz: 4,000 bytes a second, so 400 MB hold 100,000 s or
  // 4.8e9 samples, past the fact chunk's 32 bits though the file is small.
  RecordingRecord r = Record(lyr::protocol::kCodecMpegLayer2, 48000, 32000, 16, 1, 400000000);
  auto h = Build(Wave, r);
  ASSERT_EQ(h.size(), 136u);
  EXPECT_EQ(Str(h, 0, 4), "RF64");
  EXPECT_EQ(U64(h, 20), 400000000u + 136 - 8);
  EXPECT_EQ(U64(h, 36), 4800000000u);
  EXPECT_EQ(Str(h, 36 + 60, 4), "fact");
  EXPECT_EQ(U32(h, 36 + 68), 0xFFFFFFFFu);
  // One second less than 2^32 samples stays a plain RIFF file.
  r.SetU32(rec::kDataSize, 4294967295u / 48000 * 4000);
  h = Build(Wave, r);
  ASSERT_EQ(h.size(), 100u);
  EXPECT_EQ(U32(h, 68), 4294967295u / 48000 * 48000);
}

TEST(ExportHeaders, BrokenRecordsStayInsideTheirFields) {
  // Zero rates must not trap; oversized texts and numbers must not spill over.
  RecordingRecord r = Record(lyr::protocol::kCodecMpegLayer2, 0, 0, 16, 2, 1000);
  r.SetU16(rec::kYear, 65535);
  r.SetU16(rec::kHour, 65535);
  auto h = Build(Bwf, r);
  EXPECT_EQ(U16(h, 712), 0);
  EXPECT_EQ(U32(h, 748), 0u);
  EXPECT_EQ(Str(h, 340, 10), "65535-08-1");
  EXPECT_EQ(Str(h, 350, 8), "65535:05");
  EXPECT_EQ(h[358], 0);

  r = Record(lyr::protocol::kCodecLinearPcm, 4000000000u, 0, 65535, 65535, 1000);
  const std::string long_text(400, 'd');
  uint32_t size = 724;
  std::vector<uint8_t> p(724);
  ASSERT_EQ(lyr::BuildBwfHeader(r, p.data(), &size, long_text, std::string(100, 's')), 1);
  EXPECT_EQ(p[275], 0);
  EXPECT_EQ(p[339], 0);
  EXPECT_EQ(Str(p, 692, 4), "fmt ");  // the long coding history stops at its field
}

}  // namespace
