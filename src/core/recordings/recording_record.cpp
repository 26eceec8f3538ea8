#include "recordings/recording_record.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "platform/byte_order.h"

namespace lyr {

uint16_t RecordingRecord::U16(size_t offset) const { return GetU16(bytes_.data() + offset); }
uint32_t RecordingRecord::U32(size_t offset) const { return GetU32(bytes_.data() + offset); }
void RecordingRecord::SetU16(size_t offset, uint16_t value) { PutU16(bytes_.data() + offset, value); }
void RecordingRecord::SetU32(size_t offset, uint32_t value) { PutU32(bytes_.data() + offset, value); }

std::string RecordingRecord::Text(size_t offset, size_t max_length) const {
  const char* p = reinterpret_cast<const char*>(bytes_.data() + offset);
  const void* nul = std::memchr(p, 0, max_length);
  return std::string(p, nul != nullptr ? static_cast<const char*>(nul) - p : max_length);
}

void RecordingRecord::SetText(size_t offset, size_t field, size_t max_length, const std::string& text) {
  std::memset(bytes_.data() + offset, 0, field);
  std::memcpy(bytes_.data() + offset, text.data(), std::min(text.size(), max_length));
}

bool HasReadableAudio(const RecordingRecord& record) {
  const uint32_t rate = record.SampleRate();
  if (rate < kMinRecordSampleRate || rate > kMaxRecordSampleRate) return false;
  if (record.IsMpegLayer2()) return true;
  const uint16_t bits = record.BitsPerSample();
  return record.Channels() >= 1 && record.Channels() <= kMaxRecordChannels && bits >= 8 &&
         bits <= kMaxRecordBitsPerSample && bits % 8 == 0;
}

uint32_t RecordingDurationSeconds(const RecordingRecord& record) {
  // 64-bit so that nonsense fields from the device cannot wrap into a rate.
  const uint64_t bit_rate = record.IsLinearPcm() ? static_cast<uint64_t>(record.Channels()) *
                                                       record.BitsPerSample() * record.SampleRate()
                                                 : record.BitRate();
  const uint64_t bytes_per_second = bit_rate / 8;
  if (bytes_per_second == 0) return 0;
  return static_cast<uint32_t>(record.DataSize() / bytes_per_second);
}

RecordingDate RecordingDateTime(RecordingRecord* record) {
  RecordingDate d;
  d.year = record->Year();
  d.month = record->Month();
  d.day = record->Day();
  d.hour = record->Hour();
  d.minute = record->Minute();
  // '0' is even, so the digit's parity is its lowest bit.
  d.second = static_cast<uint16_t>((record->Second() & ~1u) + (record->SecondParityDigit() & 1u));
  record->SetU16(record::kSecond, d.second);
  return d;
}

namespace {
std::string Format3(const char* format, unsigned a, unsigned b, unsigned c) {
  char text[48];
  std::snprintf(text, sizeof text, format, a, b, c);
  return text;
}
}  // namespace

std::string FormatDuration(uint32_t seconds) {
  return Format3("%02u:%02u:%02u", seconds / 3600, seconds % 3600 / 60, seconds % 60);
}

std::string FormatTimeOfDay(const RecordingDate& d) {
  return Format3("%02u:%02u:%02u", d.hour, d.minute, d.second);
}

std::string FormatDate(const RecordingDate& d) {
  return Format3("%02u.%02u.%02u", d.day, d.month, d.year % 100u);
}

}  // namespace lyr
