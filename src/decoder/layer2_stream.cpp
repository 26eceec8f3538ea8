#include "decoder/layer2_stream.h"

#include <cstring>
#include <memory>
#include <vector>

#include "decoder/audio_decoder.h"
#include "recordings/mpeg_header.h"

namespace lyr {
namespace {

constexpr size_t kBufferSize = 64 * 1024;
// More than the longest Layer II frame, so that a frame refused while this
// much input waits is refused for its content, not for being cut short.
constexpr size_t kLookAhead = 4096;

// Frames of one stream share version, sample rate and channel count.
bool SameStream(const MpegHeader& a, const MpegHeader& b) {
  return a.VersionBits() == b.VersionBits() && a.SampleRateIndex() == b.SampleRateIndex() &&
         a.Channels() == b.Channels();
}

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
  MpegHeader first;  // of the first frame decoded

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
    // The decoder refuses what is no Layer II header; once the stream is
    // known, a header of another stream is no frame start either.
    const MpegHeader header = MpegHeader::FromBytes(p);
    const bool candidate = !locked || SameStream(header, first);
    size_t produced = 0;
    const size_t consumed = candidate ? AudioDecoderDecode(decoder.get(), p, end - begin, pcm, &produced) : 0;
    if (consumed == 0) {
      ++begin;
      ++result.skipped_bytes;
      continue;
    }
    if (!locked) {
      locked = true;
      first = header;
      result.sample_rate = header.SampleRate();
      result.channels = header.Channels();
    }
    write(pcm, produced);
    ++result.frames;
    begin += consumed;
  }
  result.skipped_bytes += end - begin;
  return result;
}

}  // namespace lyr
