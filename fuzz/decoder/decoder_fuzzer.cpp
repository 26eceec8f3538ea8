// Arbitrary bytes through the frame header reader the product runs: as a
// header (MpegHeader and the export facts made from it), frame by frame
// through the Layer II decoder, and as a stream through the decoder's frame
// search. Every frame decodes to something bounded or is refused, without
// reading or writing outside its buffers, and every user of the reader steps
// by the frame length it gives.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "decoder/audio_decoder.h"
#include "decoder/layer2_stream.h"
#include "recordings/mpeg_frame_header.h"
#include "recordings/mpeg_header.h"

namespace {

void CheckHeader(const uint8_t* data) {
  const lyr::MpegHeader header = lyr::MpegHeader::FromBytes(data);
  if (header.IsValid()) {
    // A valid header starts a frame that holds at least the header itself.
    if (header.FrameLength() < 4 || header.SamplesPerFrame() == 0) std::abort();
  } else if (header.FrameLength() != 0) {
    std::abort();
  }
  lyr::MpegFrameHeaderFacts facts;
  if (lyr::ParseMpegFrameHeader(header.Word(), &facts) == 1) {
    if (!header.IsValid() || facts.frame_length != header.FrameLength() || facts.sample_rate == 0)
      std::abort();
  }
}

void DecodeFrames(const uint8_t* data, size_t size) {
  lyr::AudioDecoder* decoder = lyr::AudioDecoderCreate();
  if (decoder == nullptr) return;
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
    if (consumed != lyr::MpegHeader::FromBytes(data + at).FrameLength()) std::abort();
    at += consumed;
  }
  std::free(pcm);
  lyr::AudioDecoderDestroy(decoder);
}

void DecodeStream(const uint8_t* data, size_t size) {
  size_t at = 0;
  uint64_t written = 0;
  const lyr::Layer2StreamResult result = lyr::DecodeLayer2Stream(
      [&](uint8_t* buffer, size_t capacity) {
        // Short reads, so that frames straddle the refills.
        const size_t n = std::min<size_t>({capacity, size - at, 777});
        std::memcpy(buffer, data + at, n);
        at += n;
        return n;
      },
      [&](const int16_t*, size_t bytes) {
        if (bytes != lyr::kAudioDecoderFrameOutputBytes) std::abort();
        written += bytes;
      });
  if (!result.ok) return;
  if (written != result.frames * lyr::kAudioDecoderFrameOutputBytes || result.skipped_bytes > size)
    std::abort();
  if (result.frames != 0 && (result.sample_rate == 0 || result.channels == 0)) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size >= 4) CheckHeader(data);
  DecodeFrames(data, size);
  DecodeStream(data, size);
  return 0;
}
