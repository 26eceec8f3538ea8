#pragma once
// A stand-in recorder with a link and a player buffer over it, and the small
// waits the playback tests share.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <ctime>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "emulator/audio_import.h"
#include "link/protocol.h"
#include "playback/player_buffer.h"
#include "support/emulated_recorder.h"

namespace lyr::test {

// Polls `done` until it holds or `limit` passes.
inline bool WaitFor(const std::function<bool()>& done,
                    std::chrono::milliseconds limit = std::chrono::seconds(10)) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

// Interleaved 16-bit tone, two channels at different pitches.
inline std::vector<int16_t> TwoTones(int rate, int channels, double seconds, double amplitude = 0.5) {
  const size_t n = static_cast<size_t>(seconds * rate);
  std::vector<int16_t> pcm(n * static_cast<size_t>(channels));
  for (size_t i = 0; i < n; ++i)
    for (int ch = 0; ch < channels; ++ch)
      pcm[i * channels + ch] = static_cast<int16_t>(
          std::lround(amplitude * 32767 * std::sin(2 * 3.14159265358979 * 440.0 * (ch + 1) * i / rate)));
  return pcm;
}

inline std::vector<uint8_t> Bytes(const std::vector<int16_t>& pcm) {
  std::vector<uint8_t> out(pcm.size() * 2);
  for (size_t i = 0; i < pcm.size(); ++i) {
    out[2 * i] = static_cast<uint8_t>(pcm[i]);
    out[2 * i + 1] = static_cast<uint8_t>(static_cast<uint16_t>(pcm[i]) >> 8);
  }
  return out;
}

class PlaybackFixture : public ::testing::Test {
 protected:
  uint32_t AddRecording(uint32_t codec, uint32_t rate, uint32_t bit_rate, uint16_t channels,
                        const std::vector<uint8_t>& data) {
    std::tm date{};
    lyr_emu::ParseDateTime("2011-08-19T10:20:37", &date);
    const auto record =
        lyr_emu::MakeRecordingRecord(rate, bit_rate, 16, channels, codec, date, "LYR0001", "");
    return recorder_.AddRecording(record, data);
  }
  uint32_t AddPcm(const std::vector<uint8_t>& data, uint32_t rate = 48000, uint16_t channels = 2) {
    return AddRecording(protocol::kCodecLinearPcm, rate, rate * channels * 16, channels, data);
  }
  uint32_t AddLayer2(const std::vector<uint8_t>& data, uint32_t rate, uint32_t bit_rate,
                     uint16_t channels = 2) {
    return AddRecording(protocol::kCodecMpegLayer2, rate, bit_rate, channels, data);
  }
  // The link and the player buffer, made once the recordings are in place.
  void Connect() {
    link_ = recorder_.MakeLink();
    buffer_ = PlayerBuffer::BuffMgrCreate(*link_);
    ASSERT_NE(buffer_, nullptr);
  }

  lyr_test::EmulatedRecorder recorder_;
  std::unique_ptr<RecorderLink> link_;
  std::unique_ptr<PlayerBuffer> buffer_;
};

}  // namespace lyr::test
