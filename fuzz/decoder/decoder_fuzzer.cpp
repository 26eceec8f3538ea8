// Arbitrary bytes through the frame header reader the product runs: as a
// header (MpegHeader and the export facts made from it), frame by frame
// through the Layer II decoder, as a stream through DecodeLayer2Stream, and
// through the Layer2FrameSource that playback, the waveform and the audio CD
// read their frames with, locked to a recording's stream and fed in pieces of
// every size. Every frame decodes to something bounded or is refused, without
// reading or writing outside its buffers; every user of the reader steps by
// the frame length it gives; how the bytes are cut into pieces changes no
// frame. Frames decode to the same samples on every synthesis kernel.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "decoder/audio_decoder.h"
#include "decoder/layer2_frame_source.h"
#include "decoder/layer2_stream.h"
#include "decoder/synthesis.h"
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

// Every frame's samples, one after the other.
std::vector<uint8_t> DecodeFrames(const uint8_t* data, size_t size) {
  std::vector<uint8_t> samples;
  lyr::AudioDecoder* decoder = lyr::AudioDecoderCreate();
  if (decoder == nullptr) return samples;
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
    samples.insert(samples.end(), pcm, pcm + produced);
    at += consumed;
  }
  std::free(pcm);
  lyr::AudioDecoderDestroy(decoder);
  return samples;
}

// Every synthesis kernel this processor runs decodes the frames, and all of
// them give the same samples.
void DecodeFramesOnEveryKernel(const uint8_t* data, size_t size) {
  static const std::vector<const char*> kernels = [] {
    lyr::decoder::SynthesisKernel list[8];
    const int count = std::min(lyr::decoder::AvailableSynthesisKernels(list, 8), 8);
    std::vector<const char*> names;
    for (int i = 0; i < count; ++i) names.push_back(list[i].name);
    return names;
  }();
  std::vector<uint8_t> first;
  for (size_t k = 0; k < kernels.size(); ++k) {
    if (!lyr::decoder::SelectSynthesisKernel(kernels[k])) std::abort();
    std::vector<uint8_t> samples = DecodeFrames(data, size);
    if (k == 0)
      first = std::move(samples);
    else if (samples != first)
      std::abort();
  }
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

// Stream offsets of the frames found, then the bytes skipped.
std::vector<uint64_t> FrameOffsets(const uint8_t* data, size_t size, const lyr::Layer2StreamLock& lock,
                                   size_t step) {
  lyr::Layer2FrameSource frames(lock);
  std::vector<uint64_t> offsets;
  for (size_t at = 0; !frames.ended();) {
    const size_t n = std::min(step, size - at);
    frames.Push({data + at, n});
    at += n;
    if (at == size) frames.End();
    for (auto frame = frames.Next(); !frame.empty(); frame = frames.Next()) {
      const lyr::MpegHeader header = lyr::MpegHeader::FromBytes(frame.data());
      if (!lock.Holds(header) || frame.size() != header.FrameLength()) std::abort();
      offsets.push_back(frames.position() - frame.size());
    }
    // Held bytes are never more than the longest frame.
    if (frames.held() > 4096) std::abort();
  }
  if (frames.held() != 0 || frames.position() != size) std::abort();
  offsets.push_back(frames.skipped_bytes());
  return offsets;
}

void SplitStream(const uint8_t* data, size_t size) {
  if (size < 4) return;
  // The stream of the first header that has one, as a recording's record would name it.
  const lyr::MpegHeader first = lyr::MpegHeader::FromBytes(data);
  const lyr::Layer2StreamLock lock = first.IsValid()
                                         ? lyr::Layer2StreamLock::OfHeader(first)
                                         : lyr::Layer2StreamLock{lyr::MpegHeader::kMpeg1, 48000, 2};
  const auto whole = FrameOffsets(data, size, lock, size);
  const size_t step = 1 + data[size - 1] % 64;
  if (FrameOffsets(data, size, lock, step) != whole) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size >= 4) CheckHeader(data);
  DecodeFramesOnEveryKernel(data, size);
  DecodeStream(data, size);
  SplitStream(data, size);
  return 0;
}
