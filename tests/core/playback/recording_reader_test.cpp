#include <gtest/gtest.h>

#include <algorithm>

#include "platform/last_error.h"
#include "playback/recording_reader.h"
#include "support/emulated_recorder.h"

namespace {

class ReaderTest : public ::testing::Test {
 protected:
  uint32_t Add(uint32_t codec, uint32_t rate, uint32_t bit_rate, uint16_t channels, uint32_t bytes) {
    std::tm date{};
    lyr_emu::ParseDateTime("2011-08-19T10:20:37", &date);
    auto record = lyr_emu::MakeRecordingRecord(rate, bit_rate, 16, channels, codec, date, "LYR0001", "");
    return recorder_.AddRecording(record, std::vector<uint8_t>(bytes, 0));
  }
  lyr_test::EmulatedRecorder recorder_;
};

TEST_F(ReaderTest, FramesOfMpegAndPcmRecordings) {
  const uint32_t mpeg = Add(lyr::protocol::kCodecMpegLayer2, 48000, 192000, 2, 240000);
  const uint32_t pcm = Add(lyr::protocol::kCodecLinearPcm, 48000, 0, 2, 1920000);
  const uint32_t pcm_mono = Add(lyr::protocol::kCodecLinearPcm, 48000, 0, 1, 2304 * 3);
  auto link = recorder_.MakeLink();
  lyr::RecordingReader reader(*link);

  ASSERT_EQ(reader.OpenRecordingReader(mpeg), 1);
  EXPECT_EQ(reader.frame_length(), 576u);
  EXPECT_EQ(reader.frame_count(), 417u);  // 416.67 rounded
  EXPECT_NE(reader.decoder(), nullptr);
  EXPECT_EQ(reader.frame_peaks().size(), 417u * 2);
  EXPECT_TRUE(std::all_of(reader.frame_peaks().begin(), reader.frame_peaks().end(),
                          [](uint8_t v) { return v == 0; }));
  EXPECT_EQ(reader.date().second, 36);  // as stored
  reader.frame_peaks()[0] = 9;

  // Opening another recording closes the first: no decoder for PCM, a fresh table.
  ASSERT_EQ(reader.OpenRecordingReader(pcm), 1);
  EXPECT_EQ(reader.decoder(), nullptr);
  EXPECT_EQ(reader.frame_length(), 4608u);
  EXPECT_EQ(reader.frame_count(), 1920000u / 4608 + 1);
  EXPECT_EQ(reader.frame_peaks()[0], 0);
  ASSERT_EQ(reader.OpenRecordingReader(pcm_mono), 1);
  EXPECT_EQ(reader.frame_count(), 4u);  // whole frames plus one

  reader.CloseRecordingReader();
  EXPECT_FALSE(reader.IsOpen());
  EXPECT_EQ(reader.frame_count(), 0u);
}

TEST_F(ReaderTest, DamagedRecordsAndLinkFailuresDoNotOpen) {
  const uint32_t zero_rate = Add(lyr::protocol::kCodecMpegLayer2, 0, 192000, 2, 240000);
  const uint32_t tiny_bit_rate = Add(lyr::protocol::kCodecMpegLayer2, 48000, 8, 2, 0xFFFFFFF0u / 4096);
  const uint32_t no_channels = Add(lyr::protocol::kCodecLinearPcm, 48000, 0, 0, 1000);
  const uint32_t good = Add(lyr::protocol::kCodecLinearPcm, 48000, 0, 2, 1000);
  auto link = recorder_.MakeLink();
  lyr::RecordingReader reader(*link);
  for (uint32_t entry : {zero_rate, tiny_bit_rate, no_channels, 999u /* not on the recorder */}) {
    lyr::SetLastError(0);
    EXPECT_EQ(reader.OpenRecordingReader(entry), 0) << entry;
    EXPECT_EQ(lyr::GetLastError(), lyr::kErrorInvalidData);
    EXPECT_FALSE(reader.IsOpen());
  }
  recorder_.emulator().SetConnected(false);
  EXPECT_EQ(reader.OpenRecordingReader(good), 0);
  EXPECT_EQ(lyr::GetLastError(), lyr::kErrorConnectionUnavail);
}

}  // namespace
