#pragma once
#include <cstdint>
#include <span>
#include <vector>

#include "decoder/audio_decoder.h"
#include "link/recorder_link.h"
#include "recordings/recording_record.h"

namespace lyr {

// One open recording as the waveform display reads it: its record, its
// frames (MPEG frames, or blocks of 1152 sample frames for PCM), a Layer II
// decoder for MPEG recordings, and the per-frame table: two bytes a frame in
// use (left and right peak on a 1 to 255 scale, 0 until computed) within four
// bytes a frame allocated.
class RecordingReader {
 public:
  explicit RecordingReader(RecorderLink& link) : link_(link) {}
  ~RecordingReader() { CloseRecordingReader(); }
  RecordingReader(const RecordingReader&) = delete;
  RecordingReader& operator=(const RecordingReader&) = delete;

  // Closes any previous recording and opens `entry`. 0 when its record
  // cannot be read (last error 1201), when the record describes no audio
  // this reader can step through (last error 13), or when the decoder or the
  // table cannot be made (last error 8).
  int OpenRecordingReader(uint32_t entry);
  // The same with the record already read.
  int OpenRecord(const RecordingRecord& record);
  void CloseRecordingReader();
  // A reader whose record names no entry is closed.
  bool IsOpen() const { return record_.Entry() != 0; }

  RecorderLink& link() { return link_; }
  const RecordingRecord& record() const { return record_; }
  // Start of the recording, from the record's fields as stored.
  const RecordingDate& date() const { return date_; }
  uint32_t frame_count() const { return frame_count_; }
  // Bytes per frame: 144 x bit rate / sample rate for MPEG (the padding byte
  // some frames carry not counted), channels x 2304 for PCM.
  uint32_t frame_length() const { return frame_length_; }
  // The same for MPEG as a floating value, which keeps frame offsets exact.
  double exact_frame_length() const { return exact_frame_length_; }
  AudioDecoder* decoder() const { return decoder_; }
  // Left and right peak per frame.
  std::span<uint8_t> frame_peaks() { return {table_.data(), size_t{frame_count_} * 2}; }

 private:
  RecorderLink& link_;
  RecordingRecord record_;
  RecordingDate date_;
  uint32_t frame_count_ = 0;
  uint32_t frame_length_ = 0;
  double exact_frame_length_ = 0;
  AudioDecoder* decoder_ = nullptr;
  std::vector<uint8_t> table_;
};

}  // namespace lyr
