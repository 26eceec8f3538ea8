#include "playback/sound_buffer.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

#include "platform/last_error.h"

namespace lyr {

SoundBuffer::SoundBuffer(const WaveFormat& format, uint32_t bytes)
    : format_(format),
      frame_bytes_(std::max<uint32_t>(1, format.block_align)),
      frames_(bytes / frame_bytes_),
      data_(size_t{frames_} * frame_bytes_, format.bits_per_sample == 8 ? 0x80 : 0),
      frequency_(format.samples_per_sec) {}

void SoundBuffer::SetNotificationPositions(std::vector<uint32_t> positions, Event* event) {
  positions_ = std::move(positions);
  event_ = event;
}

uint32_t SoundBuffer::GetCurrentPosition() const {
  return static_cast<uint32_t>(position_.load() >> 32) * frame_bytes_;
}

void SoundBuffer::SetCurrentPosition(uint32_t offset) {
  const uint64_t frame = frames_ == 0 ? 0 : (offset / frame_bytes_) % frames_;
  position_ = frame << 32;
}

int SoundBuffer::SetFrequency(uint32_t hertz) {
  if (hertz < kMinFrequency || hertz > kMaxFrequency) return 1;
  frequency_ = hertz;
  return 0;
}

int32_t SoundBuffer::Sample(uint32_t frame, uint32_t channel) const {
  const uint32_t sample_bytes = frame_bytes_ / std::max<uint32_t>(1, format_.channels);
  const uint8_t* p = data_.data() + size_t{frame} * frame_bytes_ + size_t{channel} * sample_bytes;
  if (sample_bytes == 1) return (int32_t{p[0]} - 128) * 256;
  // The two most significant bytes of a little-endian sample.
  return static_cast<int16_t>(p[sample_bytes - 2] | (p[sample_bytes - 1] << 8));
}

void SoundBuffer::Render(int16_t* out, uint32_t frames, uint16_t channels, uint32_t rate, uint32_t gain) {
  if (!playing_.load() || frames_ == 0 || rate == 0 || format_.channels == 0) {
    std::memset(out, 0, size_t{frames} * channels * sizeof(int16_t));
    return;
  }
  const uint64_t start = position_.load();
  const uint64_t wrap = uint64_t{frames_} << 32;
  const uint64_t step = (uint64_t{frequency_.load()} << 32) / rate;
  const uint32_t last_channel = format_.channels - 1u;
  uint64_t position = start;
  for (uint32_t i = 0; i < frames; ++i) {
    const uint32_t frame = static_cast<uint32_t>(position >> 32);
    const int64_t fraction = static_cast<int64_t>(position & 0xFFFFFFFFu);
    const uint32_t next = frame + 1 == frames_ ? 0 : frame + 1;
    for (uint32_t c = 0; c < channels; ++c) {
      const uint32_t channel = std::min(c, last_channel);
      int64_t value = Sample(frame, channel);
      if (fraction != 0) value += ((Sample(next, channel) - value) * fraction) >> 32;
      value = (value * gain) >> 16;
      out[size_t{i} * channels + c] = static_cast<int16_t>(std::clamp<int64_t>(value, -32768, 32767));
    }
    position = (position + step) % wrap;
  }
  // A seek or a reset while this block was made wins over the block.
  uint64_t expected = start;
  if (!position_.compare_exchange_strong(expected, position)) return;
  const uint64_t advanced = ((start & 0xFFFFFFFFu) + step * frames) >> 32;
  frames_consumed_ += advanced;
  if (event_ == nullptr || advanced == 0) return;
  const uint32_t size = Size();
  const uint32_t from = static_cast<uint32_t>(start >> 32) * frame_bytes_;
  const uint64_t passed = std::min<uint64_t>(advanced * frame_bytes_, size);
  for (uint32_t p : positions_) {
    if ((p + size - from) % size < passed) {
      event_->Set();
      break;
    }
  }
}

HResult CAudioBuffer::Play() {
  if (buffer_ == nullptr) return kCoENotInitialized;
  state_ = kPlaying;
  buffer_->Play();
  return kSOk;
}

HResult CAudioBuffer::Stop() {
  if (buffer_ == nullptr) return kCoENotInitialized;
  buffer_->Stop();
  state_ = kStopped;
  return kSOk;
}

HResult CAudioBuffer::Pause() {
  const HResult hr = Stop();
  if (hr == kSOk) state_ = kPaused;
  return hr;
}

CAudioStream::CAudioStream(std::unique_ptr<SoundBuffer> buffer, uint32_t notify_size)
    : CAudioBuffer(std::move(buffer)), notify_size_(notify_size) {
  buffer_size_ = buffer_->Size();
}

void CAudioStream::Fail(uint32_t error) {
  Stop();
  end_notice_ = true;
  end_error_ = error;
}

int64_t CAudioStream::ReadInto(uint8_t* region, uint32_t length, std::chrono::milliseconds wait_for_data) {
  const auto deadline = std::chrono::steady_clock::now() + wait_for_data;
  uint32_t total = 0;
  int64_t counted = length;
  for (;;) {
    uint32_t got = 0;
    const int result = source_->Read(region + total, length - total, &got);
    total += got;
    if (result == 0) break;
    const uint32_t error = GetLastError();
    if (error == kErrorHandleEof) {
      end_of_data_ = true;
      counted = total;
      break;
    }
    if (error == kErrorInvalidData || error == kErrorIoPending) {
      // Late data is waited for where the caller allows it; otherwise the
      // rest of the region is silence standing in for data. What the source
      // delivered is kept either way.
      if (std::chrono::steady_clock::now() < deadline) {
        if (error == kErrorIoPending) std::this_thread::sleep_for(std::chrono::milliseconds(2));
        continue;
      }
      if (error == kErrorIoPending) ++late_refills_;
      break;
    }
    Fail(error);
    return -1;
  }
  std::memset(region + total, buffer_->SilenceByte(), length - total);
  return counted;
}

int CAudioStream::FillBuffer(std::chrono::milliseconds wait_for_data) {
  if (buffer_ == nullptr || source_ == nullptr) return 1;
  if (ReadInto(buffer_->Data(), buffer_size_, wait_for_data) < 0) return 1;
  played_ = 0;
  written_ += buffer_size_;
  return 0;
}

HResult CAudioStream::HandleNotification() {
  if (buffer_ == nullptr || source_ == nullptr) return kCoENotInitialized;
  const uint32_t cursor = buffer_->GetCurrentPosition();
  const uint32_t w = next_write_offset_;
  const uint32_t length = w < cursor ? (cursor - w) / notify_size_ * notify_size_ : notify_size_;
  // The cursor has not yet passed a whole chunk: nothing to refill.
  if (length == 0) return kSOk;
  if (w + length > buffer_size_) return kEUnexpected;
  uint8_t* region = buffer_->Data() + w;
  int64_t counted = 0;
  if (!fill_with_silence_) {
    counted = ReadInto(region, length, std::chrono::milliseconds(0));
    // The source failed: playback stops here rather than looping over what
    // the buffer holds, and the player is told why.
    if (counted < 0) return 1;
  }
  if (counted > 0) {
    written_ += static_cast<uint64_t>(counted);
  } else {
    std::memset(region, buffer_->SilenceByte(), length);
    fill_with_silence_ = true;
  }
  const uint32_t now = buffer_->GetCurrentPosition();
  played_ +=
      now >= last_play_position_ ? now - last_play_position_ : now + buffer_size_ - last_play_position_;
  last_play_position_ = now;
  if (end_of_data_ && played_ >= written_) {
    Stop();
    end_notice_ = true;
    end_error_ = 0;
    return kSOk;
  }
  next_write_offset_ = (w + length) % buffer_size_;
  return kSOk;
}

void CAudioStream::Reset() {
  played_ = written_ = 0;
  last_play_position_ = next_write_offset_ = 0;
  fill_with_silence_ = end_of_data_ = end_notice_ = false;
  end_error_ = 0;
  if (buffer_ != nullptr) buffer_->SetCurrentPosition(0);
}

int CAudioStream::SeekTime(double seconds) {
  if (buffer_ == nullptr || source_ == nullptr) return 1;
  const bool was_playing = IsSoundPlaying();
  if (was_playing) buffer_->Stop();
  Reset();
  if (source_->SeekTime(static_cast<float>(seconds)) != 0) return 1;
  Reset();
  if (FillBuffer(kFirstDataWait) != 0) return 1;
  if (was_playing) Play();
  return 0;
}

int CAudioStream::GetCurrentTime(double* seconds) const {
  *seconds = 0;
  if (buffer_ == nullptr || source_ == nullptr) return 1;
  const WaveFormat& f = buffer_->Format();
  if (f.block_align == 0 || f.samples_per_sec == 0) return 1;
  const double queued =
      static_cast<double>(static_cast<int64_t>(written_ - played_)) / f.block_align / f.samples_per_sec;
  *seconds = std::max(0.0, source_->GetTime() - queued);
  return 0;
}

int CAudioStream::GetDuration(double* seconds) const {
  *seconds = source_ == nullptr ? 0.0 : source_->GetDuration();
  return source_ == nullptr ? 1 : 0;
}

int CAudioStream::GetPeaks(int* left, int* right) const {
  if (buffer_ == nullptr) return 1;
  const WaveFormat& f = buffer_->Format();
  if (f.bits_per_sample != 16 || f.channels == 0) return 1;
  const uint32_t bytes = std::min(f.samples_per_sec * 50 / 1000 * f.block_align, buffer_size_);
  const uint32_t cursor = buffer_->GetCurrentPosition();
  const uint8_t* data = buffer_->Data();
  int peak[2] = {0, 0};
  for (uint32_t done = 0; done < bytes; done += f.block_align) {
    const uint32_t at = (cursor + buffer_size_ - bytes + done) % buffer_size_;
    for (uint32_t c = 0; c < std::min<uint32_t>(f.channels, 2); ++c) {
      const int16_t v = static_cast<int16_t>(data[at + c * 2] | (data[at + c * 2 + 1] << 8));
      peak[c] = std::max<int>(peak[c], v);
    }
  }
  *left = peak[0];
  if (f.channels > 1) *right = peak[1];
  return 0;
}

bool CAudioStream::TakeEndNotice(uint32_t* error) {
  if (!end_notice_) return false;
  end_notice_ = false;
  *error = end_error_;
  return true;
}

}  // namespace lyr
