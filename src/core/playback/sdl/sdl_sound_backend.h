#pragma once
#include <memory>
#include <string>

#include "playback/sound_backend.h"

namespace lyr {

// SDL2 audio: the device pulls 16-bit frames from the renderer in SDL's
// callback. SDL_AUDIODRIVER chooses the driver ("disk" writes what would be
// played to SDL_DISKAUDIOFILE).
class SdlSoundBackend final : public SoundBackend {
 public:
  // The SDL audio subsystem, or an error naming why it cannot start.
  static Result<std::unique_ptr<SdlSoundBackend>> Create();
  ~SdlSoundBackend() override;

  const char* Name() const override { return "sdl"; }
  Status Open(uint16_t channels, uint32_t rate, SoundRenderer* renderer) override;
  void Close() override;
  void Lock() override;
  void Unlock() override;

 private:
  SdlSoundBackend() = default;
  static void Callback(void* self, unsigned char* stream, int length);

  uint32_t device_ = 0;
  SoundRenderer* renderer_ = nullptr;
  uint16_t channels_ = 0;
  uint32_t rate_ = 0;
};

// Whether silence (the null back end) stands in for a sound device that does
// not open: the player window goes on with its clock, lyrctl play says so.
enum class SilentFallback { kAllowed, kRefused };

// The back end a program plays through: LYR_AUDIO=null or LYR_AUDIO=sdl
// when set, else SDL2 when it opens a device and otherwise the null back end
// (paced in real time), or nothing when `fallback` refuses it. `why`
// receives the reason SDL2 was not taken.
std::unique_ptr<SoundBackend> ChooseSoundBackend(std::string* why,
                                                 SilentFallback fallback = SilentFallback::kAllowed);

}  // namespace lyr
