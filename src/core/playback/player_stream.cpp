#include "playback/player_stream.h"

#include <chrono>
#include <thread>

#include "platform/last_error.h"

namespace lyr {
namespace {

// Stop and seek are acknowledged through the player buffer's state word.
constexpr std::chrono::milliseconds kAckPoll{2};
// How long a stop may go unacknowledged before Close gives up.
constexpr std::chrono::milliseconds kStopLimit{2000};

}  // namespace

int CPlayerStream::Open(uint32_t entry) {
  if (buffer_ == nullptr) return 1;
  if (record_.Entry() != 0) Close();
  RecordingRecordBytes bytes{};
  if (link_.GetRecordingInfo(entry, bytes) == 0) return 1;
  RecordingRecord record(bytes);
  // Counts out of bounds would size the stream's format and buffers.
  if (!HasReadableAudio(record)) {
    SetLastError(kErrorInvalidData);
    return 1;
  }
  if (record.IsMpegLayer2()) {
    if (decoder_ != nullptr) AudioDecoderDestroy(decoder_);
    decoder_ = AudioDecoderCreate();
    if (decoder_ == nullptr) {
      SetLastError(kErrorNotEnoughMemory);
      return 1;
    }
    frames_ = Layer2FrameSource(Layer2StreamLock::OfRecording(record));
    m_dwBuffInSize = kBuffInCapacity;
    m_dwBuffInAvail = 0;
    m_pBuffOut = std::make_unique<CCycleBuffer>(kBuffOutCapacity);
    block_.assign(kAudioDecoderFrameOutputBytes, 0);
  }
  record_ = record;
  buffer_->BuffMgrSetFile(record_);
  format_ = WaveFormat{};
  format_.channels = record_.IsMpegLayer2() ? 2 : record_.Channels();
  format_.samples_per_sec = record_.SampleRate();
  format_.bits_per_sample = record_.BitsPerSample();
  format_.block_align = static_cast<uint16_t>(format_.bits_per_sample / 8 * format_.channels);
  format_.avg_bytes_per_sec = format_.block_align * format_.samples_per_sec;
  buffer_->BuffMgrStart();
  date_ = RecordingDate{record_.Year(), record_.Month(),  record_.Day(),
                        record_.Hour(), record_.Minute(), record_.Second()};
  return 0;
}

int CPlayerStream::Close() {
  if (IsClosed()) return 1;
  buffer_->BuffMgrStop();
  const auto deadline = std::chrono::steady_clock::now() + kStopLimit;
  while (buffer_->BuffMgrGetState() & BUFFMGR_STOP) {
    if (std::chrono::steady_clock::now() >= deadline) return 1;
    std::this_thread::sleep_for(kAckPoll);
  }
  FreeDecoding();
  record_ = RecordingRecord();
  format_ = WaveFormat{};
  return 0;
}

void CPlayerStream::FreeDecoding() {
  if (decoder_ != nullptr) AudioDecoderDestroy(decoder_);
  decoder_ = nullptr;
  frames_ = Layer2FrameSource();
  m_pBuffOut.reset();
  m_dwBuffInSize = m_dwBuffInAvail = 0;
}

int CPlayerStream::Read(void* destination, uint32_t want, uint32_t* got) {
  *got = 0;
  if (IsClosed()) {
    SetLastError(kErrorFileNotFound);
    return 1;
  }
  auto* out = static_cast<uint8_t*>(destination);
  if (!IsLayer2()) return ReadPcm(out, want, got);
  if (decoder_ == nullptr) return 1;
  return ReadLayer2(out, want, got);
}

uint32_t CPlayerStream::NoDataReason() const {
  // A failed read of the recorder is reported as soon as the held data is
  // used up, whatever else the state says, so that playback stops instead of
  // waiting for data that will not come.
  const uint32_t state = buffer_->BuffMgrGetState();
  if (state & (BUFFMGR_READ_ERROR | BUFFMGR_WAIT_ERROR)) return kErrorIoDevice;
  if (state & BUFFMGR_END) return kErrorHandleEof;
  return kErrorIoPending;
}

int CPlayerStream::ReadPcm(uint8_t* destination, uint32_t want, uint32_t* got) {
  while (want > 0) {
    const uint32_t n = buffer_->BuffMgrRead(destination + *got, want);
    if (n == 0) {
      SetLastError(NoDataReason());
      return 1;
    }
    *got += n;
    want -= n;
  }
  return 0;
}

int CPlayerStream::ReadLayer2(uint8_t* destination, uint32_t want, uint32_t* got) {
  while (want > 0) {
    if (m_pBuffOut->GetAvailable() > 0) {
      const uint32_t n = m_pBuffOut->Read(destination + *got, want);
      *got += n;
      want -= n;
      continue;
    }
    const std::span<const uint8_t> frame = frames_.Next();
    m_dwBuffInAvail = static_cast<uint32_t>(frames_.held());
    if (frame.empty()) {
      // The held bytes end in a frame cut short (or a few that may start
      // one): more of the recording completes it.
      if (frames_.ended() || m_dwBuffInAvail >= m_dwBuffInSize) {
        SetLastError(frames_.ended() ? kErrorHandleEof : kErrorInvalidData);
        return 1;
      }
      const uint32_t room = m_dwBuffInSize - m_dwBuffInAvail;
      const uint32_t n = buffer_->BuffMgrRead(frames_.Room(room).data(), room);
      frames_.Commit(n);
      m_dwBuffInAvail += n;
      if (n > 0) continue;
      const uint32_t reason = NoDataReason();
      if (reason != kErrorHandleEof) {
        SetLastError(reason);
        return 1;
      }
      // The end of the recording: what is held is all that will come; a
      // frame cut off by the end is left out.
      frames_.End();
      m_dwBuffInSize = m_dwBuffInAvail;
      continue;
    }
    size_t produced = 0;
    if (AudioDecoderDecode(decoder_, frame.data(), frame.size(), block_.data(), &produced) == 0) {
      frames_.Refuse();
      m_dwBuffInAvail = static_cast<uint32_t>(frames_.held());
      SetLastError(kErrorInvalidData);
      return 1;
    }
    m_pBuffOut->Write(block_.data(), static_cast<uint32_t>(produced));
  }
  return 0;
}

int CPlayerStream::Seek(uint32_t offset) {
  if (IsClosed()) {
    SetLastError(kErrorFileNotFound);
    return 1;
  }
  buffer_->BuffMgrSeek(offset);
  while (buffer_->BuffMgrGetState() & BUFFMGR_SEEK) std::this_thread::sleep_for(kAckPoll);
  if (IsLayer2()) {
    // The synthesis history belongs to the old position: the new one starts
    // as a fresh decode of its bytes would.
    AudioDecoder* fresh = AudioDecoderCreate();
    if (fresh != nullptr) {
      AudioDecoderDestroy(decoder_);
      decoder_ = fresh;
    }
    frames_.Reset();
    m_dwBuffInAvail = 0;
    // The end of the recording may have shrunk the input buffer; a play
    // from the new position needs all of it again.
    m_dwBuffInSize = kBuffInCapacity;
    m_pBuffOut->Reset();
  }
  return 0;
}

int CPlayerStream::SeekTime(float seconds) {
  if (IsClosed()) return 1;
  int64_t offset;
  if (IsLayer2()) {
    offset = static_cast<int64_t>(static_cast<double>(record_.BitRate()) * seconds * 0.125);
  } else {
    const double bytes_per_second =
        static_cast<double>(record_.BitsPerSample()) * record_.SampleRate() / 8 * record_.Channels();
    offset = static_cast<int64_t>(bytes_per_second * seconds);
  }
  return Seek(static_cast<uint32_t>(offset));
}

uint32_t CPlayerStream::GetPosition() const {
  if (IsClosed()) return 0;
  const uint32_t position = buffer_->BuffMgrGetPosition();
  return IsLayer2() ? position - m_dwBuffInAvail : position;
}

double CPlayerStream::GetDuration() const {
  if (IsClosed()) return 0.0;
  const double size = record_.DataSize();
  if (IsLayer2()) return record_.BitRate() == 0 ? 0.0 : size / record_.BitRate() * 8.0;
  const double bytes_per_second =
      static_cast<double>(record_.BitsPerSample()) * record_.SampleRate() / 8 * record_.Channels();
  return bytes_per_second == 0 ? 0.0 : size / bytes_per_second;
}

double CPlayerStream::GetTime() const {
  if (IsClosed()) return 0.0;
  const double position = GetPosition();
  if (IsLayer2()) {
    if (record_.BitRate() == 0 || record_.SampleRate() == 0 || record_.BitsPerSample() < 8) return 0.0;
    const double held = m_pBuffOut->GetAvailable() / (record_.BitsPerSample() / 8.0) * 0.5;
    return position / record_.BitRate() * 8.0 - held / record_.SampleRate();
  }
  const double bytes_per_second =
      static_cast<double>(record_.BitsPerSample()) * record_.SampleRate() / 8 * record_.Channels();
  return bytes_per_second == 0 ? 0.0 : position / bytes_per_second;
}

}  // namespace lyr
