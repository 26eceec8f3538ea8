#include "playback/sound_output.h"

#include <cmath>
#include <cstring>

#include "platform/last_error.h"
#include "platform/trace.h"

namespace lyr {
namespace {

constexpr const char* kInitCaption = "Wextel";
constexpr const char* kSampleCaption = "DirectSound Sample";

}  // namespace

CAudioDevice::~CAudioDevice() {
  if (backend_ != nullptr) backend_->Close();
}

HResult CAudioDevice::Initialize() {
  if (backend_ == nullptr) return kCoENotInitialized;
  backend_->Close();
  open_ = false;
  initialized_ = true;
  return kSOk;
}

HResult CAudioDevice::SetPrimaryBufferFormat(uint16_t channels, uint32_t rate, uint16_t bits) {
  if (!initialized_) return kCoENotInitialized;
  if (channels == 0 || rate == 0 || (bits != 8 && bits != 16 && bits != 24 && bits != 32))
    return kDsErrBadFormat;
  if (open_ && channels == channels_ && rate == rate_) return kSOk;
  const Status opened = backend_->Open(channels, rate, this);
  open_ = opened.ok();
  if (!opened) {
    Trace("sound: %s\n", opened.error().Message().c_str());
    return kEFail;
  }
  channels_ = channels;
  rate_ = rate;
  return kSOk;
}

HResult CAudioDevice::SetPrimaryVolume(int32_t volume) {
  if (!initialized_) return kCoENotInitialized;
  if (volume < -10000 || volume > 0) return kDsErrInvalidParam;
  volume_ = volume;
  gain_ =
      volume <= -10000 ? 0u : static_cast<uint32_t>(std::lround(65536.0 * std::pow(10.0, volume / 2000.0)));
  return kSOk;
}

int CAudioDevice::SetFrequency(uint32_t hertz) {
  if (last_buffer_ == nullptr) return 1;
  return last_buffer_->SetFrequency(hertz);
}

HResult CAudioDevice::CreateStreaming(std::unique_ptr<CAudioStream>* out, uint32_t entry,
                                      uint32_t notify_count, uint32_t notify_size, Event* notify_event,
                                      PlayerBuffer* player_buffer, RecorderLink& link) {
  if (!initialized_) return kCoENotInitialized;
  if (out == nullptr || entry == 0 || notify_event == nullptr || notify_count == 0 || notify_size == 0)
    return kEInvalidArg;
  auto source = std::make_unique<CPlayerStream>(player_buffer, link);
  if (source->Open(entry) != 0) return kEFail;
  const WaveFormat* format = source->GetFormat();
  if (format == nullptr || format->block_align == 0 || notify_size % format->block_align != 0)
    return kDsErrBadFormat;
  auto buffer = std::make_unique<SoundBuffer>(*format, notify_count * notify_size);
  std::vector<uint32_t> positions;
  for (uint32_t i = 0; i < notify_count; ++i) positions.push_back(notify_size * (i + 1) - 1);
  buffer->SetNotificationPositions(std::move(positions), notify_event);
  SoundBuffer* raw = buffer.get();
  *out = std::make_unique<CAudioStream>(std::move(buffer), notify_size);
  (*out)->SetSource(std::move(source));
  backend_->Lock();
  last_buffer_ = raw;
  backend_->Unlock();
  return kSOk;
}

int CAudioDevice::ReleaseSource(CAudioStream* stream) {
  if (stream == nullptr || stream->GetSource() == nullptr) return 1;
  std::unique_ptr<CPlayerStream> source = stream->TakeSource();
  source->Close();
  return 0;
}

void CAudioDevice::Forget(CAudioStream* stream) {
  if (stream == nullptr || backend_ == nullptr) return;
  backend_->Lock();
  if (last_buffer_ == stream->GetBuffer()) last_buffer_ = nullptr;
  backend_->Unlock();
}

void CAudioDevice::Render(int16_t* out, uint32_t frames, uint16_t channels, uint32_t rate) {
  if (last_buffer_ == nullptr) {
    std::memset(out, 0, size_t{frames} * channels * sizeof(int16_t));
    return;
  }
  last_buffer_->Render(out, frames, channels, rate, gain_.load());
}

SoundOutput::SoundOutput(RecorderLink& link, PlayerBuffer* player_buffer,
                         std::unique_ptr<SoundBackend> backend, PlayerNotices& notices)
    : link_(link), player_buffer_(player_buffer), notices_(notices), device_(std::move(backend)) {}

int SoundOutput::InitAudio() {
  if (device_.Initialize() != kSOk) {
    notices_.Message("Error initializing DirectSound. ", kInitCaption);
    return 1;
  }
  if (device_.SetPrimaryBufferFormat(2, 22050, 16) != kSOk) {
    notices_.Message("Error initializing DirectSound.  Sample will now exit.", kInitCaption);
    return 1;
  }
  if (!thread_.joinable()) {
    quit_event_.ResetEvent();
    thread_ = std::thread([this] { NotificationThread(); });
  }
  return 0;
}

void SoundOutput::NotificationThread() {
  for (;;) {
    if (WaitAny({&quit_event_, &notify_event_}) != 1) return;
    bool failed = false;
    bool ended = false;
    uint32_t error = 0;
    {
      std::lock_guard lock(mutex_);
      if (stream_ != nullptr && stream_->IsSoundPlaying()) {
        failed = stream_->HandleNotification() < 0;
        ended = stream_->TakeEndNotice(&error);
      }
    }
    if (ended) notices_.PlaybackEnded(error);
    if (failed) {
      notices_.Message("Error handling DirectSound notifications.Sample will now exit.", kSampleCaption);
      return;
    }
  }
}

int SoundOutput::PlayRecording(uint32_t entry, double start_seconds) {
  StopPlayback();
  uint32_t notify_size = 0;
  uint16_t channels = 0, bits = 0;
  {
    CPlayerStream probe(player_buffer_, link_);
    if (probe.Open(entry) != 0) return 1;
    const WaveFormat* format = probe.GetFormat();
    if (probe.GetSize() == 0 || format == nullptr || format->block_align == 0) return 1;
    notify_size = format->avg_bytes_per_sec / kNotifyCount / format->block_align * format->block_align;
    sample_rate_ = format->samples_per_sec;
    channels = format->channels;
    bits = format->bits_per_sample;
    if (probe.Close() != 0) return 1;
  }
  if (device_.SetPrimaryBufferFormat(channels, sample_rate_, bits) != kSOk) {
    notices_.Message("Error initializing DirectSound. Cant't SetPrimaryBufferFormat.", kSampleCaption);
    return 1;
  }
  std::lock_guard lock(mutex_);
  if (stream_ != nullptr) {
    device_.Forget(stream_.get());
    stream_.reset();
  }
  const HResult hr = device_.CreateStreaming(&stream_, entry, kNotifyCount, notify_size, &notify_event_,
                                             player_buffer_, link_);
  if (hr != kSOk) {
    if (hr != kDsErrBadFormat && hr != kEInvalidArg)
      notices_.Message("Error initializing DirectSound. Cant't CreateStreaming.", kSampleCaption);
    stream_.reset();
    return 1;
  }
  stream_->Reset();
  if (start_seconds > 0 && stream_->GetSource()->SeekTime(static_cast<float>(start_seconds)) != 0) return 1;
  if (stream_->FillBuffer(CAudioStream::kFirstDataWait) != 0) return 1;
  stream_->Play();
  device_.SetFrequency(sample_rate_ * static_cast<uint32_t>(speed_percent_) / 100);
  return 0;
}

void SoundOutput::StopPlayback() {
  std::lock_guard lock(mutex_);
  if (stream_ == nullptr) return;
  stream_->Stop();
  stream_->Reset();
  device_.ReleaseSource(stream_.get());
}

void SoundOutput::ShutdownAudio() {
  if (thread_.joinable()) {
    quit_event_.Set();
    thread_.join();
  }
  std::lock_guard lock(mutex_);
  if (stream_ != nullptr) {
    device_.Forget(stream_.get());
    device_.ReleaseSource(stream_.get());
    stream_.reset();
  }
}

int SoundOutput::Pause() {
  std::lock_guard lock(mutex_);
  if (stream_ == nullptr || stream_->GetState() != CAudioBuffer::kPlaying) return 1;
  return stream_->Pause() == kSOk ? 0 : 1;
}

int SoundOutput::Resume() {
  std::lock_guard lock(mutex_);
  if (stream_ == nullptr || stream_->GetSource() == nullptr || stream_->GetState() != CAudioBuffer::kPaused)
    return 1;
  return stream_->Play() == kSOk ? 0 : 1;
}

int SoundOutput::SeekTime(double seconds) {
  std::lock_guard lock(mutex_);
  if (stream_ == nullptr || stream_->GetSource() == nullptr) return 1;
  return stream_->SeekTime(seconds);
}

int SoundOutput::SetSpeedPercent(int percent) {
  if (percent < kMinSpeed || percent > kMaxSpeed) return 1;
  speed_percent_ = percent;
  std::lock_guard lock(mutex_);
  if (stream_ == nullptr || sample_rate_ == 0) return 0;
  return device_.SetFrequency(sample_rate_ * static_cast<uint32_t>(percent) / 100);
}

uint32_t SoundOutput::GetState() {
  std::lock_guard lock(mutex_);
  return stream_ == nullptr ? CAudioBuffer::kStopped : stream_->GetState();
}

int SoundOutput::GetCurrentTime(double* seconds) {
  std::lock_guard lock(mutex_);
  *seconds = 0;
  return stream_ == nullptr ? 1 : stream_->GetCurrentTime(seconds);
}

int SoundOutput::GetDuration(double* seconds) {
  std::lock_guard lock(mutex_);
  *seconds = 0;
  return stream_ == nullptr ? 1 : stream_->GetDuration(seconds);
}

int SoundOutput::GetPeaks(int* left, int* right) {
  std::lock_guard lock(mutex_);
  return stream_ == nullptr ? 1 : stream_->GetPeaks(left, right);
}

}  // namespace lyr
