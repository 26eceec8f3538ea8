// Arbitrary bytes through the frame header parser and, as a stream, through
// the Layer II decoder: every frame decodes to something bounded or is
// refused, without reading or writing outside its buffers.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "playback/decoder/audio_decoder.h"
#include "recordings/mpeg_frame_header.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size >= 4) {
    const uint32_t header =
        (uint32_t{data[0]} << 24) | (uint32_t{data[1]} << 16) | (uint32_t{data[2]} << 8) | data[3];
    lyr::MpegFrameHeaderFacts facts;
    if (lyr::ParseMpegFrameHeader(header, &facts) == 1 && (facts.frame_length == 0 || facts.sample_rate == 0))
      std::abort();
  }

  lyr::AudioDecoder* decoder = lyr::AudioDecoderCreate();
  if (decoder == nullptr) return 0;
  // Exactly the promised output size, so that ASan sees any write past it.
  auto* pcm = static_cast<uint8_t*>(std::malloc(lyr::kAudioDecoderFrameOutputBytes));
  size_t at = 0;
  while (at < size) {
    size_t produced = 12345;
    const size_t consumed = lyr::AudioDecoderDecode(decoder, data + at, size - at, pcm, &produced);
    if (consumed > size - at) std::abort();
    if (consumed == 0) {
      if (produced != 0) std::abort();
      ++at;
      continue;
    }
    if (produced != lyr::kAudioDecoderFrameOutputBytes) std::abort();
    at += consumed;
  }
  std::free(pcm);
  lyr::AudioDecoderDestroy(decoder);
  return 0;
}
