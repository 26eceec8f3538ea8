#include "playback/decoder/layer2_stream.h"

#include <cstring>
#include <memory>
#include <vector>

#include "playback/decoder/audio_decoder.h"

namespace lyr {
namespace {

constexpr size_t kBufferSize = 64 * 1024;
// More than the longest Layer II frame, so that a frame refused while this
// much input waits is refused for its content, not for being cut short.
constexpr size_t kLookAhead = 4096;

struct StreamFormat {
  uint32_t version = 0, rate_index = 0;
  bool single_channel = false;
};

bool IsLayer2Header(const uint8_t* p) {
  const uint32_t h = (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
  const uint32_t bit_rate_index = (h >> 12) & 15;
  return (h >> 21) == 0x7FF && ((h >> 19) & 3) != 1 && ((h >> 17) & 3) == 2 && bit_rate_index != 0 &&
         bit_rate_index != 15 && ((h >> 10) & 3) != 3;
}

StreamFormat FormatOf(const uint8_t* p) {
  return {static_cast<uint32_t>((p[1] >> 3) & 3), static_cast<uint32_t>((p[2] >> 2) & 3), (p[3] >> 6) == 3};
}

constexpr uint32_t kRates[4][3] = {{11025, 12000, 8000}, {0, 0, 0}, {22050, 24000, 16000}, {44100, 48000, 32000}};

}  // namespace

Layer2StreamResult DecodeLayer2Stream(const StreamReader& read, const PcmWriter& write) {
  Layer2StreamResult result;
  std::unique_ptr<AudioDecoder, void (*)(AudioDecoder*)> decoder(AudioDecoderCreate(), AudioDecoderDestroy);
  if (!decoder) return result;
  result.ok = true;

  std::vector<uint8_t> buffer(kBufferSize);
  alignas(16) int16_t pcm[kAudioDecoderFrameOutputBytes / 2];
  size_t begin = 0, end = 0;
  bool at_end = false;
  bool locked = false;
  StreamFormat format;

  for (;;) {
    if (!at_end && end - begin < kLookAhead) {
      std::memmove(buffer.data(), buffer.data() + begin, end - begin);
      end -= begin;
      begin = 0;
      while (!at_end && end < buffer.size()) {
        const size_t got = read(buffer.data() + end, buffer.size() - end);
        if (got == 0) at_end = true;
        end += got;
      }
    }
    if (end - begin < 4) break;
    const uint8_t* p = buffer.data() + begin;
    bool candidate = IsLayer2Header(p);
    if (candidate && locked) {
      const StreamFormat f = FormatOf(p);
      candidate = f.version == format.version && f.rate_index == format.rate_index &&
                  f.single_channel == format.single_channel;
    }
    size_t produced = 0;
    const size_t consumed = candidate ? AudioDecoderDecode(decoder.get(), p, end - begin, pcm, &produced) : 0;
    if (consumed == 0) {
      ++begin;
      ++result.skipped_bytes;
      continue;
    }
    if (!locked) {
      locked = true;
      format = FormatOf(p);
      result.sample_rate = kRates[format.version][format.rate_index];
      result.channels = format.single_channel ? 1 : 2;
    }
    write(pcm, produced);
    ++result.frames;
    begin += consumed;
  }
  result.skipped_bytes += end - begin;
  return result;
}

}  // namespace lyr
