#include "playback/recording_reader.h"

#include <new>

#include "platform/last_error.h"
#include "recordings/mpeg_header.h"

namespace lyr {

int RecordingReader::OpenRecordingReader(uint32_t entry) {
  CloseRecordingReader();
  RecordingRecord record;
  if (!link_.GetRecordingInfo(entry, record.bytes())) return 0;
  return OpenRecord(record);
}

int RecordingReader::OpenRecord(const RecordingRecord& record) {
  CloseRecordingReader();
  const uint32_t size = record.DataSize();
  // The data is read by the record's own entry; a record without one is no
  // recording, nor one whose counts are out of bounds.
  if (record.Entry() == 0 || !HasReadableAudio(record)) {
    SetLastError(kErrorInvalidData);
    return 0;
  }
  if (record.IsMpegLayer2()) {
    // The recorder writes MPEG-1 Layer II; rates without a header of their
    // own are damage, and must not size the frame table.
    const MpegHeader frame = MpegHeader::FromRates(
        MpegHeader::kMpeg1, MpegHeader::kLayer2, record.SampleRate(), record.BitRate(), MpegHeader::kStereo);
    if (!frame.IsValid()) {
      SetLastError(kErrorInvalidData);
      return 0;
    }
    exact_frame_length_ = frame.SamplesPerFrame() / 8.0 * frame.BitRate() / frame.SampleRate();
    frame_length_ = frame.FrameLength();
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
