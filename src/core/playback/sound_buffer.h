#pragma once
#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/event.h"
#include "playback/player_stream.h"

namespace lyr {

// Result codes of the sound output, in the numbering its callers test.
using HResult = int32_t;
constexpr HResult kSOk = 0;
constexpr HResult kCoENotInitialized = static_cast<HResult>(0x800401F0u);
constexpr HResult kEInvalidArg = static_cast<HResult>(0x80070057u);
constexpr HResult kEOutOfMemory = static_cast<HResult>(0x8007000Eu);
constexpr HResult kEUnexpected = static_cast<HResult>(0x8000FFFFu);
constexpr HResult kEFail = static_cast<HResult>(0x80004005u);
constexpr HResult kDsErrBadFormat = static_cast<HResult>(0x88780064u);
constexpr HResult kDsErrInvalidParam = static_cast<HResult>(0x80070057u);

// A looping buffer of PCM that a sound back end consumes: a play cursor,
// notification positions that signal an event when the cursor has passed
// them, and a playback frequency. The frequency is the rate at which sample
// frames are taken from the buffer, so a frequency above the format's rate
// plays faster and higher, like tape; frames between two buffer frames are
// interpolated. Render runs on the back end's thread and takes no lock; the
// owner writes only the part of the buffer the cursor has passed.
class SoundBuffer {
 public:
  static constexpr uint32_t kMinFrequency = 100;
  static constexpr uint32_t kMaxFrequency = 200000;

  SoundBuffer(const WaveFormat& format, uint32_t bytes);
  uint8_t* Data() { return data_.data(); }
  uint32_t Size() const { return static_cast<uint32_t>(data_.size()); }
  const WaveFormat& Format() const { return format_; }
  uint8_t SilenceByte() const { return format_.bits_per_sample == 8 ? 0x80 : 0; }

  // Offsets whose passing signals `event`; set before playing.
  void SetNotificationPositions(std::vector<uint32_t> positions, Event* event);
  void Play() { playing_ = true; }
  void Stop() { playing_ = false; }
  bool IsPlaying() const { return playing_.load(); }
  // The play cursor: the byte offset of the next frame to be played.
  uint32_t GetCurrentPosition() const;
  void SetCurrentPosition(uint32_t offset);
  // 0, or 1 for a frequency outside 100 to 200,000 Hz.
  int SetFrequency(uint32_t hertz);
  uint32_t GetFrequency() const { return frequency_.load(); }
  // Frames of the buffer played since it was made.
  uint64_t FramesConsumed() const { return frames_consumed_.load(); }

  // Mixes `frames` device frames into `out` (overwriting) at the device's
  // rate, with the gain given as a Q16 factor.
  void Render(int16_t* out, uint32_t frames, uint16_t channels, uint32_t rate, uint32_t gain);

 private:
  int32_t Sample(uint32_t frame, uint32_t channel) const;

  const WaveFormat format_;
  const uint32_t frame_bytes_;
  const uint32_t frames_;
  std::vector<uint8_t> data_;
  std::vector<uint32_t> positions_;
  Event* event_ = nullptr;
  std::atomic<bool> playing_{false};
  std::atomic<uint32_t> frequency_;
  // Play position in frames, 32.32 fixed point.
  std::atomic<uint64_t> position_{0};
  std::atomic<uint64_t> frames_consumed_{0};
};

// A sound buffer with the stream that feeds it.
class CAudioBuffer {
 public:
  enum PlayState : uint32_t { kStopped = 0, kPlaying = 1, kPaused = 2 };

  CAudioBuffer(std::unique_ptr<SoundBuffer> buffer) : buffer_(std::move(buffer)) {}
  virtual ~CAudioBuffer() = default;

  SoundBuffer* GetBuffer() { return buffer_.get(); }
  bool IsSoundPlaying() const { return buffer_ != nullptr && buffer_->IsPlaying(); }
  HResult Play();
  HResult Stop();
  HResult Pause();
  uint32_t GetState() const { return state_; }
  CPlayerStream* GetSource() { return source_.get(); }
  void SetSource(std::unique_ptr<CPlayerStream> source) { source_ = std::move(source); }
  std::unique_ptr<CPlayerStream> TakeSource() { return std::move(source_); }

 protected:
  std::unique_ptr<SoundBuffer> buffer_;
  uint32_t buffer_size_ = 0;
  uint64_t played_ = 0;
  uint64_t written_ = 0;
  std::unique_ptr<CPlayerStream> source_;
  uint32_t state_ = kStopped;
};

// Streams a recording through a looping sound buffer of notify-count chunks:
// each notification refills the chunks the cursor has passed.
class CAudioStream : public CAudioBuffer {
 public:
  CAudioStream(std::unique_ptr<SoundBuffer> buffer, uint32_t notify_size);

  // One refill. 0 when done; 1 when the source failed (playback is then
  // stopped and the end notice carries the reason); a negative code for a
  // buffer that cannot be used.
  HResult HandleNotification();
  // Fills the whole buffer from the source (start, seek). Data that is late
  // is waited for up to `wait_for_data`; 1 when the source fails.
  int FillBuffer(std::chrono::milliseconds wait_for_data = std::chrono::milliseconds(0));
  void Reset();
  int SeekTime(double seconds);
  int GetCurrentTime(double* seconds) const;
  int GetDuration(double* seconds) const;
  int GetPeaks(int* left, int* right) const;

  // Playback has run out (error 0) or was stopped because the source failed
  // (its last error): taken once by whoever tells the player.
  bool TakeEndNotice(uint32_t* error);
  uint64_t written() const { return written_; }
  uint64_t played() const { return played_; }
  uint32_t next_write_offset() const { return next_write_offset_; }
  bool fill_with_silence() const { return fill_with_silence_; }
  // Refills in which the recording's data came too late and silence stood
  // in for part of it (underruns); safe to read while playing.
  uint64_t late_refills() const { return late_refills_.load(); }

  // How long FillBuffer waits for late data at the start of a play or after a seek.
  static constexpr std::chrono::milliseconds kFirstDataWait{2000};

 private:
  // Reads `length` bytes into `region`; what the source does not deliver is
  // silence. Returns the bytes that count as written, or -1 when the source
  // failed with a reason other than late or undecodable data or its end.
  int64_t ReadInto(uint8_t* region, uint32_t length, std::chrono::milliseconds wait_for_data);
  void Fail(uint32_t error);

  uint32_t last_play_position_ = 0;
  uint32_t notify_size_;
  uint32_t next_write_offset_ = 0;
  bool fill_with_silence_ = false;
  bool end_of_data_ = false;
  bool end_notice_ = false;
  uint32_t end_error_ = 0;
  std::atomic<uint64_t> late_refills_{0};
};

}  // namespace lyr
