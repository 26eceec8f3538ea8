#include "playback/sdl/sdl_sound_backend.h"

#include <SDL.h>
#include <dlfcn.h>

#include <cstdlib>
#include <cstring>

#include "playback/null_sound_backend.h"

namespace lyr {
namespace {

// The part of SDL2 the back end calls, taken from the library at run time.
struct SdlApi {
  decltype(&SDL_InitSubSystem) InitSubSystem;
  decltype(&SDL_QuitSubSystem) QuitSubSystem;
  decltype(&SDL_GetError) GetError;
  decltype(&SDL_OpenAudioDevice) OpenAudioDevice;
  decltype(&SDL_CloseAudioDevice) CloseAudioDevice;
  decltype(&SDL_PauseAudioDevice) PauseAudioDevice;
  decltype(&SDL_LockAudioDevice) LockAudioDevice;
  decltype(&SDL_UnlockAudioDevice) UnlockAudioDevice;
};

template <typename F>
bool Bind(void* library, const char* name, F* fn) {
  *fn = reinterpret_cast<F>(::dlsym(library, name));
  return *fn != nullptr;
}

// SDL2, opened once and kept for the life of the process (its threads may
// still run when a back end goes); nothing with the reason when it is not
// installed.
Result<const SdlApi*> Sdl() {
  static const Result<const SdlApi*> loaded = []() -> Result<const SdlApi*> {
    void* library = ::dlopen("libSDL2-2.0.so.0", RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
      const char* why = ::dlerror();
      return Error::Code(kErrorBadDevice,
                         std::string("SDL audio: ") + (why != nullptr ? why : "not installed"));
    }
    static SdlApi api{};
    if (!Bind(library, "SDL_InitSubSystem", &api.InitSubSystem) ||
        !Bind(library, "SDL_QuitSubSystem", &api.QuitSubSystem) ||
        !Bind(library, "SDL_GetError", &api.GetError) ||
        !Bind(library, "SDL_OpenAudioDevice", &api.OpenAudioDevice) ||
        !Bind(library, "SDL_CloseAudioDevice", &api.CloseAudioDevice) ||
        !Bind(library, "SDL_PauseAudioDevice", &api.PauseAudioDevice) ||
        !Bind(library, "SDL_LockAudioDevice", &api.LockAudioDevice) ||
        !Bind(library, "SDL_UnlockAudioDevice", &api.UnlockAudioDevice))
      return Error::Code(kErrorBadDevice, "SDL audio: libSDL2-2.0.so.0 lacks the audio functions");
    return &api;
  }();
  return loaded;
}

const SdlApi& Api() { return *Sdl().value(); }

}  // namespace

Result<std::unique_ptr<SdlSoundBackend>> SdlSoundBackend::Create() {
  LYR_TRY_ASSIGN(const SdlApi* sdl, Sdl());
  if (sdl->InitSubSystem(SDL_INIT_AUDIO) != 0)
    return Error::Code(kErrorBadDevice, std::string("SDL audio: ") + sdl->GetError());
  return std::unique_ptr<SdlSoundBackend>(new SdlSoundBackend());
}

SdlSoundBackend::~SdlSoundBackend() {
  Close();
  Api().QuitSubSystem(SDL_INIT_AUDIO);
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
  device_ = Api().OpenAudioDevice(nullptr, 0, &want, &have, 0);
  if (device_ == 0) {
    renderer_ = nullptr;
    return Error::Code(kErrorBadDevice, std::string("SDL audio device: ") + Api().GetError());
  }
  Api().PauseAudioDevice(device_, 0);
  return {};
}

void SdlSoundBackend::Close() {
  if (device_ != 0) Api().CloseAudioDevice(device_);
  device_ = 0;
  renderer_ = nullptr;
}

void SdlSoundBackend::Lock() {
  if (device_ != 0) Api().LockAudioDevice(device_);
}

void SdlSoundBackend::Unlock() {
  if (device_ != 0) Api().UnlockAudioDevice(device_);
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

std::unique_ptr<SoundBackend> ChooseSoundBackend(std::string* why, SilentFallback fallback) {
  const char* wanted = std::getenv("LYR_AUDIO");
  const std::string choice = wanted != nullptr ? wanted : "";
  if (choice == "null") return std::make_unique<NullSoundBackend>(NullSoundBackend::Clock::RealTime);
  auto sdl = OpenSdl();
  if (sdl) return std::move(sdl).value();
  if (why != nullptr) *why = sdl.error().context;
  if (choice == "sdl" || fallback == SilentFallback::kRefused) return nullptr;
  return std::make_unique<NullSoundBackend>(NullSoundBackend::Clock::RealTime);
}

}  // namespace lyr
