#include "playback/sdl/sdl_sound_backend.h"

#include <SDL.h>

#include <cstdlib>
#include <cstring>

#include "playback/null_sound_backend.h"

namespace lyr {

Result<std::unique_ptr<SdlSoundBackend>> SdlSoundBackend::Create() {
  if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0)
    return Error::Code(kErrorBadDevice, std::string("SDL audio: ") + SDL_GetError());
  return std::unique_ptr<SdlSoundBackend>(new SdlSoundBackend());
}

SdlSoundBackend::~SdlSoundBackend() {
  Close();
  SDL_QuitSubSystem(SDL_INIT_AUDIO);
}

void SdlSoundBackend::Callback(void* self, unsigned char* stream, int length) {
  auto* backend = static_cast<SdlSoundBackend*>(self);
  const uint32_t frames = static_cast<uint32_t>(length) / (2u * backend->channels_);
  backend->renderer_->Render(reinterpret_cast<int16_t*>(stream), frames, backend->channels_, backend->rate_);
}

Status SdlSoundBackend::Open(uint16_t channels, uint32_t rate, SoundRenderer* renderer) {
  Close();
  if (renderer == nullptr || channels == 0 || rate == 0)
    return Error::Code(kErrorInvalidParameter, "SDL audio: no format");
  SDL_AudioSpec want{};
  want.freq = static_cast<int>(rate);
  want.format = AUDIO_S16SYS;
  want.channels = static_cast<Uint8>(channels);
  want.samples = 1024;
  want.callback = &SdlSoundBackend::Callback;
  want.userdata = this;
  renderer_ = renderer;
  channels_ = channels;
  rate_ = rate;
  SDL_AudioSpec have{};
  // SDL converts to what the device takes; the callback always sees this format.
  device_ = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
  if (device_ == 0) {
    renderer_ = nullptr;
    return Error::Code(kErrorBadDevice, std::string("SDL audio device: ") + SDL_GetError());
  }
  SDL_PauseAudioDevice(device_, 0);
  return {};
}

void SdlSoundBackend::Close() {
  if (device_ != 0) SDL_CloseAudioDevice(device_);
  device_ = 0;
  renderer_ = nullptr;
}

void SdlSoundBackend::Lock() {
  if (device_ != 0) SDL_LockAudioDevice(device_);
}

void SdlSoundBackend::Unlock() {
  if (device_ != 0) SDL_UnlockAudioDevice(device_);
}

namespace {

// SDL2 only when it can open a device at all: a trial open at a common format.
Result<std::unique_ptr<SoundBackend>> OpenSdl() {
  LYR_TRY_ASSIGN(std::unique_ptr<SdlSoundBackend> sdl, SdlSoundBackend::Create());
  struct Silence final : SoundRenderer {
    void Render(int16_t* out, uint32_t frames, uint16_t channels, uint32_t) override {
      std::memset(out, 0, size_t{frames} * channels * sizeof(int16_t));
    }
  } silence;
  LYR_TRY(sdl->Open(2, 22050, &silence));
  sdl->Close();
  return std::unique_ptr<SoundBackend>(std::move(sdl));
}

}  // namespace

std::unique_ptr<SoundBackend> ChooseSoundBackend(std::string* why) {
  const char* wanted = std::getenv("LYR_AUDIO");
  const std::string choice = wanted != nullptr ? wanted : "";
  if (choice == "null") return std::make_unique<NullSoundBackend>(NullSoundBackend::Clock::RealTime);
  auto sdl = OpenSdl();
  if (sdl) return std::move(sdl).value();
  if (why != nullptr) *why = sdl.error().context;
  if (choice == "sdl") return nullptr;
  return std::make_unique<NullSoundBackend>(NullSoundBackend::Clock::RealTime);
}

}  // namespace lyr
