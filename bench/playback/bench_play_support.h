#pragma once
// Shared by the playback benchmarks: notices printed to stderr, milliseconds
// of a steady-clock duration, and a recorder opened for playing through the
// null back end in real time.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "link/recorder_link.h"
#include "playback/null_sound_backend.h"
#include "playback/player_buffer.h"
#include "playback/sound_output.h"

namespace lyr_bench {

using Clock = std::chrono::steady_clock;

struct QuietNotices final : lyr::PlayerNotices {
  void Message(const std::string& text, const std::string& caption) override {
    std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
  }
  void PlaybackEnded(uint32_t error) override {
    if (error != 0) std::fprintf(stderr, "playback stopped with error %u\n", error);
  }
};

inline double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

// The recorder at a device and the player over it, paced by the null back
// end in real time.
struct BenchPlayer {
  lyr::RecorderLink link;
  std::unique_ptr<lyr::PlayerBuffer> buffer;
  QuietNotices notices;
  std::unique_ptr<lyr::SoundOutput> output;

  // False, with a message, when the recorder or the output cannot be opened.
  bool Open(const char* device) {
    link.SetSettleDelay(std::chrono::milliseconds(0));
    if (link.OpenLink(device) != 0 || !link.Identify() || !link.RequestAccess("")) {
      std::fprintf(stderr, "cannot open the recorder at %s\n", device);
      return false;
    }
    link.SetDriveOpen(true);
    buffer = lyr::PlayerBuffer::BuffMgrCreate(link);
    if (buffer == nullptr) return false;
    output = std::make_unique<lyr::SoundOutput>(
        link, buffer.get(), std::make_unique<lyr::NullSoundBackend>(lyr::NullSoundBackend::Clock::RealTime),
        notices);
    if (output->InitAudio() == 0) return true;
    std::fprintf(stderr, "cannot open the null sound output\n");
    return false;
  }
};

}  // namespace lyr_bench
