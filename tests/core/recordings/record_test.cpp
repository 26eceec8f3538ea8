#include <gtest/gtest.h>

#include <string>

#include "core/recordings/record_fixture.h"
#include "recordings/recording_record.h"

namespace {

using lyr::RecordingRecord;
namespace rec = lyr::record;

using lyr_test::MakeRecord;

TEST(RecordingDuration, FromRatesAndSize) {
  struct Case {
    RecordingRecord record;
    uint32_t seconds;
    const char* text;
  } cases[] = {
      {MakeRecord(lyr::protocol::kCodecLinearPcm, 48000, 0, 16, 2, 1920000), 10, "00:00:10"},
      // The PCM rate comes from the format, not from the bit-rate field.
      {MakeRecord(lyr::protocol::kCodecLinearPcm, 48000, 999, 16, 1, 1920000), 20, "00:00:20"},
      {MakeRecord(lyr::protocol::kCodecMpegLayer2, 48000, 192000, 16, 2, 240000), 10, "00:00:10"},
      {MakeRecord(lyr::protocol::kCodecMpegLayer2, 48000, 192000, 16, 2, 24000 * 3725 + 23999), 3725, "01:02:05"},
      // A rate of zero (or below one byte a second) shows no duration.
      {MakeRecord(lyr::protocol::kCodecMpegLayer2, 48000, 7, 16, 2, 240000), 0, "00:00:00"},
      {MakeRecord(lyr::protocol::kCodecLinearPcm, 0, 0, 16, 2, 240000), 0, "00:00:00"},
  };
  for (const Case& c : cases) {
    const uint32_t s = lyr::RecordingDurationSeconds(c.record);
    EXPECT_EQ(s, c.seconds);
    EXPECT_EQ(lyr::FormatDuration(s), c.text);
  }
}

TEST(RecordingDateTime, OddSecondFromParityDigitIsWrittenBack) {
  struct Case {
    uint16_t stored;
    char digit;
    uint16_t second;
  } cases[] = {{36, '7', 37}, {36, '4', 36}, {37, '4', 36}, {58, '9', 59}, {0, 0, 0}};
  for (const Case& c : cases) {
    RecordingRecord r;
    r.SetU16(rec::kYear, 2011);
    r.SetU16(rec::kMonth, 8);
    r.SetU16(rec::kDay, 19);
    r.SetU16(rec::kHour, 10);
    r.SetU16(rec::kMinute, 20);
    r.SetU16(rec::kSecond, c.stored);
    r.bytes()[rec::kSecondParity] = static_cast<uint8_t>(c.digit);
    const lyr::RecordingDate d = lyr::RecordingDateTime(&r);
    EXPECT_EQ(d.second, c.second) << c.stored << " " << c.digit;
    EXPECT_EQ(r.Second(), c.second);
    EXPECT_EQ(lyr::FormatTimeOfDay(d),
              "10:20:" + std::string(c.second < 10 ? "0" : "") + std::to_string(c.second));
    EXPECT_EQ(lyr::FormatDate(d), "19.08.11");
  }
}

TEST(RecordingRecord, TextsStayInsideTheirFieldsWithoutNul) {
  RecordingRecord r;
  // Fill everything with letters: no NUL anywhere in the record.
  r.bytes().fill('A');
  EXPECT_EQ(r.Name(), std::string(12, 'A'));
  EXPECT_EQ(r.FreeText(), std::string(253, 'A'));

  r.SetName("LYR0007");
  EXPECT_EQ(r.Name(), "LYR0007");
  EXPECT_EQ(r.SecondParityDigit(), 'A');  // the digit after the name is untouched
  r.SetFreeText(std::string(300, 'x'));
  EXPECT_EQ(r.FreeText(), std::string(253, 'x'));
}

}  // namespace
