#include "playback/null_sound_backend.h"

#include <algorithm>

namespace lyr {

Status NullSoundBackend::Open(uint16_t channels, uint32_t rate, SoundRenderer* renderer) {
  Close();
  if (channels == 0 || rate == 0 || renderer == nullptr)
    return Error::Code(kErrorInvalidParameter, "null sound device: no format");
  {
    std::lock_guard lock(mutex_);
    channels_ = channels;
    rate_ = rate;
    renderer_ = renderer;
    block_.assign(size_t{kBlockFrames} * channels, 0);
    frames_played_ = 0;
  }
  if (clock_ == Clock::RealTime) {
    quit_.ResetEvent();
    clock_thread_ = std::thread([this] { RunClock(); });
  }
  return {};
}

void NullSoundBackend::Close() {
  if (clock_thread_.joinable()) {
    quit_.Set();
    clock_thread_.join();
  }
  std::lock_guard lock(mutex_);
  renderer_ = nullptr;
}

void NullSoundBackend::Advance(uint32_t frames) {
  std::lock_guard lock(mutex_);
  if (renderer_ == nullptr) return;
  while (frames > 0) {
    const uint32_t n = std::min(frames, kBlockFrames);
    renderer_->Render(block_.data(), n, channels_, rate_);
    if (capture_) captured_.insert(captured_.end(), block_.begin(), block_.begin() + size_t{n} * channels_);
    frames_played_ += n;
    frames -= n;
  }
}

void NullSoundBackend::SetCapture(bool capture) {
  std::lock_guard lock(mutex_);
  capture_ = capture;
}

std::vector<int16_t> NullSoundBackend::TakeCaptured() {
  std::lock_guard lock(mutex_);
  return std::move(captured_);
}

void NullSoundBackend::RunClock() {
  // Plays in steps of about 10 ms, as many frames as real time has passed.
  const auto start = std::chrono::steady_clock::now();
  uint64_t played = 0;
  while (!quit_.Wait(std::chrono::milliseconds(10))) {
    const auto elapsed =
        std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start);
    const uint64_t due = static_cast<uint64_t>(elapsed.count()) * rate_ / 1000000;
    if (due > played) {
      Advance(static_cast<uint32_t>(due - played));
      played = due;
    }
  }
}

}  // namespace lyr
