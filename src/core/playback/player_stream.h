#pragma once
#include <cstdint>
#include <memory>
#include <vector>

#include "decoder/audio_decoder.h"
#include "decoder/layer2_frame_source.h"
#include "link/recorder_link.h"
#include "playback/cycle_buffer.h"
#include "playback/player_buffer.h"
#include "recordings/recording_record.h"

namespace lyr {

// The PCM format a stream delivers, laid out as the sound output takes it.
struct WaveFormat {
  uint16_t format_tag = 1;  // PCM
  uint16_t channels = 0;
  uint32_t samples_per_sec = 0;
  uint32_t avg_bytes_per_sec = 0;
  uint16_t block_align = 0;
  uint16_t bits_per_sample = 0;
  uint16_t extra_size = 0;
};

// The source the sound output reads PCM from: one recording, its raw bytes
// taken from the player buffer and, for Layer II recordings, decoded into a
// small PCM queue. Results are 0 for success and 1 for failure with the
// reason in the thread's last error: 2 not open, 13 undecodable data, 38 end
// of the recording, 997 data not there yet, 1117 device or wait error. No
// lock of its own: its user serialises the calls.
class CPlayerStream {
 public:
  static constexpr uint32_t kBuffInCapacity = 6912;
  static constexpr uint32_t kBuffOutCapacity = 9216;

  // `buffer` may be null (no player buffer: nothing opens); it and `link`
  // must outlive the stream.
  CPlayerStream(PlayerBuffer* buffer, RecorderLink& link) : buffer_(buffer), link_(link) {}
  virtual ~CPlayerStream() { Close(); }
  CPlayerStream(const CPlayerStream&) = delete;
  CPlayerStream& operator=(const CPlayerStream&) = delete;

  int Open(uint32_t entry);
  // 0 when closed now; 1 when nothing was open or the player buffer did not
  // acknowledge the stop (the recording then stays open).
  int Close();
  // 0 when all of `want` was delivered; `got` counts what was delivered in
  // any case.
  int Read(void* destination, uint32_t want, uint32_t* got);
  // 0 once the player buffer has acknowledged the seek.
  int Seek(uint32_t offset);
  int SeekTime(float seconds);
  int IsClosed() const { return buffer_ == nullptr || record_.Entry() == 0 ? 1 : 0; }
  uint32_t GetSize() const { return IsClosed() ? 0 : record_.DataSize(); }
  // Bytes of the recording consumed.
  uint32_t GetPosition() const;
  double GetDuration() const;
  // Seconds played out of the stream.
  double GetTime() const;
  const WaveFormat* GetFormat() const { return IsClosed() ? nullptr : &format_; }
  const RecordingRecord& record() const { return record_; }
  const RecordingDate& date() const { return date_; }

  // For tests.
  uint32_t BuffInSize() const { return m_dwBuffInSize; }
  uint32_t BuffInAvail() const { return m_dwBuffInAvail; }

 private:
  bool IsLayer2() const { return record_.IsMpegLayer2(); }
  void FreeDecoding();
  int ReadPcm(uint8_t* destination, uint32_t want, uint32_t* got);
  int ReadLayer2(uint8_t* destination, uint32_t want, uint32_t* got);
  // The reason a read found no data, from the player buffer's state.
  uint32_t NoDataReason() const;

  PlayerBuffer* buffer_;
  RecorderLink& link_;
  RecordingRecord record_;
  RecordingDate date_;
  WaveFormat format_;
  AudioDecoder* decoder_ = nullptr;
  // The input buffer: recording bytes not decoded yet, at most m_dwBuffInSize.
  Layer2FrameSource frames_;
  uint32_t m_dwBuffInSize = 0;
  uint32_t m_dwBuffInAvail = 0;  // what frames_ holds
  std::unique_ptr<CCycleBuffer> m_pBuffOut;
  std::vector<uint8_t> block_;  // one decoded frame
};

}  // namespace lyr
