#pragma once
#include <cstddef>
#include <cstdint>

namespace lyr {

// An MPEG audio decoder instance. It carries the synthesis history from one
// frame to the next, so the frames of one stream go through one instance in
// order. One thread at a time.
struct AudioDecoder;

// Bytes of output one MPEG-1 (or Layer II) frame yields: 1152 stereo samples.
constexpr size_t kAudioDecoderFrameOutputBytes = 4608;

// Returns a new instance, or null when memory is short.
AudioDecoder* AudioDecoderCreate();

// Decodes the one frame that starts at `input` (no sync search) into 16-bit
// little-endian stereo samples at `output`, which must hold
// kAudioDecoderFrameOutputBytes. A single-channel frame comes out in both
// channels. Returns the bytes consumed (the frame length) and sets
// *bytes_produced; returns 0 and produces nothing for a frame that cannot be
// decoded: no header, a reserved or unsupported field (Layer I and III,
// free format, bit-rate index 15, sample-rate index 3) or a frame longer than
// `input_length`.
size_t AudioDecoderDecode(AudioDecoder* decoder, const uint8_t* input, size_t input_length, void* output,
                          size_t* bytes_produced);

void AudioDecoderDestroy(AudioDecoder* decoder);

}  // namespace lyr
