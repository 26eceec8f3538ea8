#include "playback/wave_columns.h"

#include <array>
#include <cmath>
#include <vector>

#include "decoder/layer2_frame_source.h"
#include "platform/last_error.h"

namespace lyr {

void WaveBlockPeaks(std::span<const uint8_t> bytes, uint32_t channels, uint8_t& left, uint8_t& right) {
  uint32_t peak[2] = {0, 0};
  const size_t samples = bytes.size() / 2;
  for (size_t i = 0; i < samples; ++i) {
    const auto v = static_cast<int16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
    const uint32_t magnitude = static_cast<uint32_t>(std::abs(int32_t{v}));
    uint32_t& p = peak[channels == 2 ? i % 2 : 0];
    p = std::max(p, magnitude);
  }
  left = WavePeakValue(peak[0]);
  right = WavePeakValue(channels == 2 ? peak[1] : peak[0]);
}

Result<PiecePeaks> ComputePiecePeaks(RecordingReader& reader, std::span<const uint8_t> piece, uint64_t offset,
                                     uint32_t frame, uint32_t pcm_span, std::span<uint8_t> peaks) {
  // Bytes read past the end of the recording are not its audio.
  const uint64_t size = reader.record().DataSize();
  piece =
      piece.first(offset >= size ? 0 : static_cast<size_t>(std::min<uint64_t>(piece.size(), size - offset)));
  const uint32_t frame_count = reader.frame_count();
  const size_t capacity = peaks.size() / 2;
  PiecePeaks got;

  if (reader.decoder() == nullptr) {
    got.first_frame = frame;
    size_t at = 0;
    while (at < piece.size() && frame + got.frames < frame_count && got.frames < capacity) {
      const size_t n = std::min<size_t>(pcm_span, piece.size() - at);
      WaveBlockPeaks(piece.subspan(at, n), reader.record().Channels(), peaks[got.frames * 2],
                     peaks[got.frames * 2 + 1]);
      at += n;
      ++got.frames;
    }
    got.end_offset = offset + at;
    return got;
  }

  // The piece is read on its own: a frame cut off at its end is left for
  // the read that starts there.
  Layer2FrameSource frames(Layer2StreamLock::OfRecording(reader.record()));
  frames.Push(piece);
  std::span<const uint8_t> found = frames.Next();
  // Which frame this is follows from where it starts, so that a read landing
  // inside a frame does not give the next frame's peaks to it.
  const uint64_t start = offset + (found.empty() ? frames.position() : frames.position() - found.size());
  got.first_frame =
      static_cast<uint32_t>(std::lround(static_cast<double>(start) / reader.exact_frame_length()));
  std::array<int16_t, kAudioDecoderFrameOutputBytes / 2> pcm;
  while (!found.empty() && got.first_frame + got.frames < frame_count && got.frames < capacity) {
    size_t produced = 0;
    if (AudioDecoderDecode(reader.decoder(), found.data(), found.size(), pcm.data(), &produced) == 0) {
      return Error::Code(kErrorInvalidData, "frame " + std::to_string(got.first_frame + got.frames));
    }
    WaveBlockPeaks({reinterpret_cast<const uint8_t*>(pcm.data()), produced}, 2, peaks[got.frames * 2],
                   peaks[got.frames * 2 + 1]);
    ++got.frames;
    found = frames.Next();
  }
  // Just past the last frame used: at the frame not taken, or at what is
  // left of the piece.
  got.end_offset = offset + frames.position() - found.size();
  return got;
}

int BuildWaveColumns(RecordingReader& reader, uint8_t* out, uint32_t count, uint32_t start_ms,
                     uint32_t length_ms) {
  if (!reader.IsOpen() || (out == nullptr && count != 0)) {
    SetLastError(kErrorInvalidParameter);
    return 0;
  }
  const uint32_t rate = reader.record().SampleRate();
  const double frames_per_column =
      count == 0 ? 0 : static_cast<double>(WaveFrameOfMs(rate, length_ms)) / count;
  std::vector<uint8_t> piece(kWaveReadBytes);
  std::vector<uint8_t> peaks(kWaveReadBytes * 2);  // more frames than the smallest Layer II frame allows
  std::span<uint8_t> table = reader.frame_peaks();
  const auto fill = [&](uint32_t f) {
    // The decoder's synthesis carries the sound of the frame it decoded
    // last; after a jump the frame before f is decoded first, so that f
    // sounds as it does in the stream, and its own peaks are not kept.
    const uint32_t from = reader.decoder() != nullptr && f > 0 ? f - 1 : f;
    const auto offset = static_cast<uint32_t>(from * reader.exact_frame_length());
    if (reader.link().ReadRecordingData(reader.record().Entry(), offset, kWaveReadBytes, piece.data()) == 0) {
      return false;
    }
    const auto got = ComputePiecePeaks(reader, piece, offset, from, kWaveReadBytes, peaks);
    if (!got) {
      SetLastError(got.error().code);
      return false;
    }
    const PiecePeaks& p = got.value();
    const uint32_t skip = p.first_frame < f ? std::min(p.frames, f - p.first_frame) : 0;
    if (p.frames > skip) {
      std::copy_n(peaks.begin() + size_t{skip} * 2, size_t{p.frames - skip} * 2,
                  table.begin() + (size_t{p.first_frame} + skip) * 2);
    }
    return true;
  };
  return FoldWaveColumns(table, reader.frame_count(), WaveFrameOfMs(rate, start_ms), frames_per_column,
                         {out, size_t{count} * 2}, count, fill)
             ? 1
             : 0;
}

}  // namespace lyr
