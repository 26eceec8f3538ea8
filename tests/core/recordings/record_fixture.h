#pragma once
#include <string>

#include "recordings/recording_record.h"

namespace lyr_test {

// A record of the given audio shape, dated 19 August 2011 09:05:36 (37 with
// the parity digit), named "LYR0042".
inline lyr::RecordingRecord MakeRecord(uint32_t codec, uint32_t rate, uint32_t bit_rate, uint16_t bits,
                                       uint16_t channels, uint32_t size) {
  namespace rec = lyr::record;
  lyr::RecordingRecord r;
  r.SetU32(rec::kCodecId, codec);
  r.SetU32(rec::kSampleRate, rate);
  r.SetU32(rec::kBitRate, bit_rate);
  r.SetU16(rec::kBitsPerSample, bits);
  r.SetU16(rec::kChannels, channels);
  r.SetU32(rec::kDataSize, size);
  r.SetU16(rec::kYear, 2011);
  r.SetU16(rec::kMonth, 8);
  r.SetU16(rec::kDay, 19);
  r.SetU16(rec::kHour, 9);
  r.SetU16(rec::kMinute, 5);
  r.SetU16(rec::kSecond, 36);
  r.bytes()[rec::kSecondParity] = '7';
  r.SetName("LYR0042");
  r.SetFreeText("Interview, take 2");
  return r;
}

}  // namespace lyr_test
