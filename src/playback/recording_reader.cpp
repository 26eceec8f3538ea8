#include "playback/recording_reader.h"

#include <new>

#include "platform/last_error.h"

namespace lyr {
namespace {

// The recorder writes MPEG-1 Layer II at these rates; anything else in a
// record is damage, and must not size the frame table.
bool IsLayer2SampleRate(uint32_t rate) { return rate == 32000 || rate == 44100 || rate == 48000; }
bool IsLayer2BitRate(uint32_t rate) {
  static constexpr uint32_t kRates[] = {32000,  48000,  56000,  64000,  80000,  96000,  112000,
                                        128000, 160000, 192000, 224000, 256000, 320000, 384000};
  for (uint32_t r : kRates) {
    if (r == rate) return true;
  }
  return false;
}

}  // namespace

int RecordingReader::OpenRecordingReader(uint32_t entry) {
  CloseRecordingReader();
  RecordingRecord record;
  if (!link_.GetRecordingInfo(entry, record.bytes())) return 0;
  const uint32_t size = record.DataSize();
  // The data is read by the record's own entry; a record without one is no recording.
  if (record.Entry() == 0) {
    SetLastError(kErrorInvalidData);
    return 0;
  }
  if (record.IsMpegLayer2()) {
    if (!IsLayer2SampleRate(record.SampleRate()) || !IsLayer2BitRate(record.BitRate())) {
      SetLastError(kErrorInvalidData);
      return 0;
    }
    exact_frame_length_ = 144.0 * record.BitRate() / record.SampleRate();
    frame_length_ = static_cast<uint32_t>(144ull * record.BitRate() / record.SampleRate());
    frame_count_ = static_cast<uint32_t>(static_cast<double>(size) / frame_length_ + 0.5);
    decoder_ = AudioDecoderCreate();
    if (decoder_ == nullptr) {
      SetLastError(kErrorNotEnoughMemory);
      return 0;
    }
  } else {
    if (record.Channels() == 0) {
      SetLastError(kErrorInvalidData);
      return 0;
    }
    frame_length_ = record.Channels() * 2304u;
    exact_frame_length_ = frame_length_;
    frame_count_ = size / frame_length_ + 1;
  }
  // Four bytes a frame are kept; the first two of each frame's share are in use.
  try {
    table_.assign(size_t{frame_count_} * 4, 0);
  } catch (const std::bad_alloc&) {
    CloseRecordingReader();
    SetLastError(kErrorNotEnoughMemory);
    return 0;
  }
  date_ = RecordingDate{record.Year(), record.Month(),  record.Day(),
                        record.Hour(), record.Minute(), record.Second()};
  record_ = record;
  return 1;
}

void RecordingReader::CloseRecordingReader() {
  if (decoder_ != nullptr) AudioDecoderDestroy(decoder_);
  decoder_ = nullptr;
  std::vector<uint8_t>().swap(table_);
  frame_count_ = 0;
  frame_length_ = 0;
  exact_frame_length_ = 0;
  date_ = RecordingDate{};
  record_ = RecordingRecord{};
}

}  // namespace lyr
