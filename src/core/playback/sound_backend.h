#pragma once
#include <cstdint>

#include "platform/result.h"

namespace lyr {

// What a sound back end plays: asked for 16-bit interleaved frames on the
// back end's own thread. It must not allocate or wait there.
class SoundRenderer {
 public:
  virtual ~SoundRenderer() = default;
  virtual void Render(int16_t* out, uint32_t frames, uint16_t channels, uint32_t rate) = 0;
};

// A sound device: SDL2 audio for real output, the null back end for tests
// and machines without sound.
class SoundBackend {
 public:
  virtual ~SoundBackend() = default;
  virtual const char* Name() const = 0;
  // Opens the device for 16-bit frames of `channels` at `rate` and starts
  // pulling from `renderer`; an open device is closed first.
  virtual Status Open(uint16_t channels, uint32_t rate, SoundRenderer* renderer) = 0;
  virtual void Close() = 0;
  // While locked the renderer is not called: a short section for changing
  // what it plays.
  virtual void Lock() = 0;
  virtual void Unlock() = 0;
};

}  // namespace lyr
