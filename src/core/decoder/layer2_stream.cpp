#include "decoder/layer2_stream.h"

#include <memory>

#include "decoder/audio_decoder.h"
#include "decoder/layer2_frame_source.h"

namespace lyr {
namespace {

constexpr size_t kReadSize = 64 * 1024;

}  // namespace

Layer2StreamResult DecodeLayer2Stream(const StreamReader& read, const PcmWriter& write) {
  Layer2StreamResult result;
  std::unique_ptr<AudioDecoder, void (*)(AudioDecoder*)> decoder(AudioDecoderCreate(), AudioDecoderDestroy);
  if (!decoder) return result;
  result.ok = true;

  Layer2FrameSource frames;  // the first frame fixes the stream
  alignas(16) int16_t pcm[kAudioDecoderFrameOutputBytes / 2];
  for (;;) {
    const std::span<const uint8_t> frame = frames.Next();
    if (frame.empty()) {
      if (frames.ended()) break;
      const std::span<uint8_t> room = frames.Room(kReadSize);
      const size_t got = read(room.data(), room.size());
      frames.Commit(got);
      if (got == 0) frames.End();
      continue;
    }
    size_t produced = 0;
    if (AudioDecoderDecode(decoder.get(), frame.data(), frame.size(), pcm, &produced) == 0) {
      frames.Refuse();
      continue;
    }
    if (result.frames == 0) {
      result.sample_rate = frames.header().SampleRate();
      result.channels = frames.header().Channels();
    }
    write(pcm, produced);
    ++result.frames;
  }
  result.skipped_bytes = frames.skipped_bytes();
  return result;
}

}  // namespace lyr
