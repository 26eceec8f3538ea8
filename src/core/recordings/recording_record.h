#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "link/recorder_link.h"

namespace lyr {

// Fields of the 652-byte recording record the recorder returns for an entry.
namespace record {
constexpr size_t kDataSize = 0;
constexpr size_t kEntry = 12;
constexpr size_t kSampleRate = 72;
constexpr size_t kBitRate = 76;
constexpr size_t kBitsPerSample = 80;
constexpr size_t kChannels = 82;
constexpr size_t kCodecId = 84;
constexpr size_t kYear = 112;
constexpr size_t kMonth = 114;
constexpr size_t kDay = 116;
constexpr size_t kHour = 118;
constexpr size_t kMinute = 120;
constexpr size_t kSecond = 122;
constexpr size_t kName = 124;
constexpr size_t kSecondParity = 136;
constexpr size_t kFreeText = 396;
// The name runs up to the parity digit; the recorder's names (an 8-character
// prefix at most and a four-digit index) fit without their NUL.
constexpr size_t kNameMax = kSecondParity - kName;
constexpr size_t kFreeTextMax = 253;
}  // namespace record

// One recording's record as read with GetRecordingInfo. Bytes the system does
// not interpret are kept unchanged. The record comes from the device, so the
// texts are read only within their fields, NUL or not.
class RecordingRecord {
 public:
  RecordingRecord() : bytes_{} {}
  explicit RecordingRecord(const RecordingRecordBytes& bytes) : bytes_(bytes) {}

  RecordingRecordBytes& bytes() { return bytes_; }
  const RecordingRecordBytes& bytes() const { return bytes_; }

  uint32_t DataSize() const { return U32(record::kDataSize); }
  uint32_t Entry() const { return U32(record::kEntry); }
  uint32_t SampleRate() const { return U32(record::kSampleRate); }
  uint32_t BitRate() const { return U32(record::kBitRate); }
  uint16_t BitsPerSample() const { return U16(record::kBitsPerSample); }
  uint16_t Channels() const { return U16(record::kChannels); }
  uint32_t CodecId() const { return U32(record::kCodecId); }
  bool IsLinearPcm() const { return CodecId() == protocol::kCodecLinearPcm; }
  bool IsMpegLayer2() const { return CodecId() == protocol::kCodecMpegLayer2; }

  uint16_t Year() const { return U16(record::kYear); }
  uint16_t Month() const { return U16(record::kMonth); }
  uint16_t Day() const { return U16(record::kDay); }
  uint16_t Hour() const { return U16(record::kHour); }
  uint16_t Minute() const { return U16(record::kMinute); }
  uint16_t Second() const { return U16(record::kSecond); }
  uint8_t SecondParityDigit() const { return bytes_[record::kSecondParity]; }

  std::string Name() const { return Text(record::kName, record::kNameMax); }
  std::string FreeText() const { return Text(record::kFreeText, record::kFreeTextMax); }

  // For building records (the stand-in recorder, tests).
  void SetU16(size_t offset, uint16_t value);
  void SetU32(size_t offset, uint32_t value);
  // Clears `field` bytes and copies at most `max_length` characters.
  void SetText(size_t offset, size_t field, size_t max_length, const std::string& text);
  void SetName(const std::string& name) { SetText(record::kName, record::kNameMax, record::kNameMax, name); }
  void SetFreeText(const std::string& text) {
    SetText(record::kFreeText, record::kFreeTextMax + 1, record::kFreeTextMax, text);
  }

 private:
  uint16_t U16(size_t offset) const;
  uint32_t U32(size_t offset) const;
  std::string Text(size_t offset, size_t max_length) const;

  RecordingRecordBytes bytes_;
};

struct RecordingDate {
  uint16_t year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};

// What a record may say of its audio before its counts size a buffer or a
// loop. The recorder writes one or two channels of 8 to 32-bit samples;
// counts beyond these bounds come from a damaged record.
inline constexpr uint16_t kMaxRecordChannels = 8;
inline constexpr uint16_t kMaxRecordBitsPerSample = 32;
inline constexpr uint32_t kMinRecordSampleRate = 8000;
inline constexpr uint32_t kMaxRecordSampleRate = 192000;

// Whether the record's audio is within those bounds: a sample rate between
// them, and for every codec but MPEG-1 Layer II (whose frames carry their
// own layout) 1 to kMaxRecordChannels channels of 8, 16, 24 or 32 bits.
bool HasReadableAudio(const RecordingRecord& record);

// Whole seconds of audio: data size over bytes per second, 0 when the rate is 0.
uint32_t RecordingDurationSeconds(const RecordingRecord& record);

// The recording's date and time. The recorder stores seconds with two-second
// resolution and keeps the lowest bit as the parity of an ASCII digit at
// offset 136; the corrected second is written back into `record`.
RecordingDate RecordingDateTime(RecordingRecord* record);

// Display texts of the recordings list.
std::string FormatDuration(uint32_t seconds);         // "%02d:%02d:%02d"
std::string FormatTimeOfDay(const RecordingDate& d);  // "%02d:%02d:%02d"
std::string FormatDate(const RecordingDate& d);       // "%02d.%02d.%02d", year mod 100

}  // namespace lyr
