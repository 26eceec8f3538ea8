#pragma once
#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/event.h"
#include "playback/sound_backend.h"

namespace lyr {

// A sound device that plays into nothing. Its clock is driven by the tests
// (Advance) or, for programs without sound, by a thread that keeps real time.
class NullSoundBackend final : public SoundBackend {
 public:
  enum class Clock { Manual, RealTime };
  explicit NullSoundBackend(Clock clock = Clock::Manual) : clock_(clock) {}
  ~NullSoundBackend() override { Close(); }

  const char* Name() const override { return "null"; }
  Status Open(uint16_t channels, uint32_t rate, SoundRenderer* renderer) override;
  void Close() override;
  void Lock() override { mutex_.lock(); }
  void Unlock() override { mutex_.unlock(); }

  // Plays `frames` device frames now.
  void Advance(uint32_t frames);
  // Keeps what is played from now on, for tests.
  void SetCapture(bool capture);
  std::vector<int16_t> TakeCaptured();
  uint16_t channels() const { return channels_; }
  uint32_t rate() const { return rate_; }
  bool IsOpen() const { return renderer_ != nullptr; }
  // Device frames played since the device was opened.
  uint64_t FramesPlayed() const { return frames_played_.load(); }

 private:
  void RunClock();

  static constexpr uint32_t kBlockFrames = 512;
  const Clock clock_;
  std::mutex mutex_;
  SoundRenderer* renderer_ = nullptr;
  uint16_t channels_ = 0;
  uint32_t rate_ = 0;
  std::vector<int16_t> block_;
  bool capture_ = false;
  std::vector<int16_t> captured_;
  std::atomic<uint64_t> frames_played_{0};
  Event quit_{Event::Reset::Manual};
  std::thread clock_thread_;
};

}  // namespace lyr
