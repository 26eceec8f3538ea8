#pragma once
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "link/recorder_link.h"
#include "platform/event.h"
#include "platform/result.h"
#include "playback/player_buffer.h"
#include "playback/sound_backend.h"
#include "playback/sound_buffer.h"

namespace lyr {

// What the player is told by the sound output. Called on the notification
// thread; the player answers an end notice by calling StopPlayback from its
// own thread.
class PlayerNotices {
 public:
  virtual ~PlayerNotices() = default;
  // A message with the stop icon.
  virtual void Message(const std::string& text, const std::string& caption) = 0;
  // Playback has run out (error 0), or stopped because the recording could
  // no longer be read (the reason, as the stream's last error).
  virtual void PlaybackEnded(uint32_t error) = 0;
};

// The sound device: a back end with its mixer, which plays the last created
// sound buffer at the primary volume.
class CAudioDevice : private SoundRenderer {
 public:
  explicit CAudioDevice(std::unique_ptr<SoundBackend> backend) : backend_(std::move(backend)) {}
  ~CAudioDevice() override;

  HResult Initialize();
  HResult SetPrimaryBufferFormat(uint16_t channels, uint32_t rate, uint16_t bits);
  // Hundredths of a decibel, -10,000 (silence) to 0.
  HResult SetPrimaryVolume(int32_t volume);
  int SetFrequency(uint32_t hertz);
  // A stream over `entry` with its looping buffer of notify_count chunks of
  // notify_size bytes, each chunk's end signalling `notify_event`.
  HResult CreateStreaming(std::unique_ptr<CAudioStream>* out, uint32_t entry, uint32_t notify_count,
                          uint32_t notify_size, Event* notify_event, PlayerBuffer* player_buffer,
                          RecorderLink& link);
  // Closes the stream's source and detaches it; 1 when there is none.
  int ReleaseSource(CAudioStream* stream);
  // Forgets `stream`'s buffer before the stream goes.
  void Forget(CAudioStream* stream);
  SoundBackend* backend() { return backend_.get(); }
  int32_t volume() const { return volume_.load(); }

 private:
  void Render(int16_t* out, uint32_t frames, uint16_t channels, uint32_t rate) override;

  std::unique_ptr<SoundBackend> backend_;
  bool initialized_ = false;
  bool open_ = false;
  uint16_t channels_ = 0;
  uint32_t rate_ = 0;
  SoundBuffer* last_buffer_ = nullptr;  // changed only with the back end locked
  std::atomic<int32_t> volume_{0};
  std::atomic<uint32_t> gain_{65536};
};

// The player's audio: one device, one stream at a time, a notification
// thread and the player mutex.
class SoundOutput {
 public:
  // `player_buffer` may be null (nothing plays); it, `link` and `notices`
  // must outlive this object.
  SoundOutput(RecorderLink& link, PlayerBuffer* player_buffer, std::unique_ptr<SoundBackend> backend,
              PlayerNotices& notices);
  ~SoundOutput() { ShutdownAudio(); }
  SoundOutput(const SoundOutput&) = delete;
  SoundOutput& operator=(const SoundOutput&) = delete;

  // 0, or 1 after telling the player why there is no sound; the program goes
  // on without it.
  int InitAudio();
  // Plays `entry` from `start_seconds` on.
  int PlayRecording(uint32_t entry, double start_seconds = 0);
  void StopPlayback();
  void ShutdownAudio();

  // On the playing recording.
  int Pause();
  int Resume();
  int SeekTime(double seconds);
  // Speed in percent of the recording's rate (50 to 200): the buffer's
  // playback frequency, so pitch follows speed. Kept for the next play.
  int SetSpeedPercent(int percent);
  int speed_percent() const { return speed_percent_; }
  int SetVolume(int32_t hundredths_db) { return device_.SetPrimaryVolume(hundredths_db) == kSOk ? 0 : 1; }
  // 0 stopped, 1 playing, 2 paused.
  uint32_t GetState();
  int GetCurrentTime(double* seconds);
  int GetDuration(double* seconds);
  int GetPeaks(int* left, int* right);

  CAudioDevice& device() { return device_; }
  // The current stream, for tests: read it only while nothing plays.
  CAudioStream* stream() { return stream_.get(); }
  const char* BackendName() { return device_.backend() ? device_.backend()->Name() : "none"; }

  static constexpr uint32_t kNotifyCount = 16;
  static constexpr int kMinSpeed = 50;
  static constexpr int kMaxSpeed = 200;

 private:
  void NotificationThread();

  RecorderLink& link_;
  PlayerBuffer* player_buffer_;
  PlayerNotices& notices_;
  CAudioDevice device_;
  std::mutex mutex_;  // the player mutex
  std::unique_ptr<CAudioStream> stream_;
  Event notify_event_{Event::Reset::Auto};
  Event quit_event_{Event::Reset::Manual};
  std::thread thread_;
  uint32_t sample_rate_ = 0;
  int speed_percent_ = 100;
};

// The sound output as the programs call it: the same operations, each
// result a Status or Result. A failure's code is the last error the output
// set, 0 when it named no reason (nothing playing, a value out of range).
class PlayerControl {
 public:
  explicit PlayerControl(SoundOutput& output) : output_(output) {}

  struct Peaks {
    int left = 0;
    int right = 0;
  };

  Status InitAudio() {
    return Face([&] { return output_.InitAudio(); }, "sound output");
  }
  Status PlayRecording(uint32_t entry, double start_seconds = 0) {
    return Face([&] { return output_.PlayRecording(entry, start_seconds); }, "play");
  }
  void StopPlayback() { output_.StopPlayback(); }
  void ShutdownAudio() { output_.ShutdownAudio(); }
  Status Pause() {
    return Face([&] { return output_.Pause(); }, "pause");
  }
  Status Resume() {
    return Face([&] { return output_.Resume(); }, "resume");
  }
  Status SeekTime(double seconds) {
    return Face([&] { return output_.SeekTime(seconds); }, "seek");
  }
  Status SetSpeedPercent(int percent) {
    return Face([&] { return output_.SetSpeedPercent(percent); }, "speed");
  }
  int speed_percent() const { return output_.speed_percent(); }
  Status SetVolume(int32_t hundredths_db) {
    return Face([&] { return output_.SetVolume(hundredths_db); }, "volume");
  }
  uint32_t GetState() { return output_.GetState(); }
  Result<double> GetCurrentTime() {
    double seconds = 0;
    LYR_TRY(Face([&] { return output_.GetCurrentTime(&seconds); }, "time"));
    return seconds;
  }
  Result<double> GetDuration() {
    double seconds = 0;
    LYR_TRY(Face([&] { return output_.GetDuration(&seconds); }, "duration"));
    return seconds;
  }
  Result<Peaks> GetPeaks() {
    Peaks peaks;
    LYR_TRY(Face([&] { return output_.GetPeaks(&peaks.left, &peaks.right); }, "peaks"));
    return peaks;
  }

 private:
  // The output's operations answer 0 for success.
  template <class Call>
  static Status Face(Call call, const char* what) {
    return CallWithLastError([&] { return call() == 0; }, what);
  }

  SoundOutput& output_;
};

}  // namespace lyr
