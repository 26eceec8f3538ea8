#pragma once
#include <algorithm>
#include <cstdint>
#include <span>

#include "platform/result.h"
#include "playback/recording_reader.h"

namespace lyr {

// The overview of a recording: one left and right peak per frame, cached in
// the reader's per-frame table (1 to 255, 0 until computed), folded into one
// pair per pixel column.

// Bytes one read from the recorder covers when a column's frame has no peaks yet.
constexpr uint32_t kWaveReadBytes = 6144;

// The frame that `ms` milliseconds into a recording at `sample_rate` fall
// in: 1152 samples a frame.
constexpr uint64_t WaveFrameOfMs(uint32_t sample_rate, uint64_t ms) {
  return uint64_t{2} * sample_rate * ms / 2304000;
}

// The stored value of a 16-bit peak: (peak >> 7) + 1, at most 255, so that a
// silent frame (1) differs from one not computed yet (0).
constexpr uint8_t WavePeakValue(uint32_t peak) {
  return static_cast<uint8_t>(peak >= 254u << 7 ? 255 : (peak >> 7) + 1);
}

// Stored left and right value of a block of interleaved 16-bit little-endian
// samples; one channel gives the same value on both sides.
void WaveBlockPeaks(std::span<const uint8_t> bytes, uint32_t channels, uint8_t& left, uint8_t& right);

// The peaks of the frames in `piece`, which was read from the recording at
// byte `offset`, where frame `frame` starts. Layer II: the whole frames of
// the recording's stream in the piece (Layer2FrameSource: junk and other
// streams skipped, a frame cut off at the piece's end left for the next
// read), decoded in order while the recording has frames left; each frame's
// pair goes to `peaks` (two bytes a frame, from `*first_frame` on). PCM: frames of `pcm_span` bytes from the
// start of the piece, from `frame` on (the last one may be short). Returns the byte offset just past the last
// frame used; last error 13 for a frame the decoder refuses.
struct PiecePeaks {
  uint32_t first_frame = 0;
  uint32_t frames = 0;
  uint64_t end_offset = 0;
};
Result<PiecePeaks> ComputePiecePeaks(RecordingReader& reader, std::span<const uint8_t> piece, uint64_t offset,
                                     uint32_t frame, uint32_t pcm_span, std::span<uint8_t> peaks);

// Folds the cached frame peaks into `count` columns (two bytes each, left
// then right) for [start_ms, start_ms + length_ms): column i holds, per side,
// the largest value of the frames from the previous column's frame to its
// own. Columns past the end of the recording, and frames not computed, stay
// 0. With `fill`, a column whose frame has no peaks yet first reads
// kWaveReadBytes at that frame (`fill` returns false when that read fails).
template <class Fill>
bool FoldWaveColumns(std::span<const uint8_t> table, uint32_t frame_count, uint64_t first_frame,
                     double frames_per_column, std::span<uint8_t> out, uint32_t count, Fill&& fill) {
  std::fill(out.begin(), out.begin() + uint64_t{count} * 2, uint8_t{0});
  uint64_t previous = first_frame;
  for (uint32_t i = 0; i < count; ++i) {
    const uint64_t f = static_cast<uint64_t>(i * frames_per_column) + first_frame;
    if (f >= frame_count) return true;
    if (table[f * 2] == 0 && !fill(static_cast<uint32_t>(f))) return false;
    uint8_t left = 0, right = 0;
    for (uint64_t k = std::min(previous, f); k <= f; ++k) {
      left = std::max(left, table[k * 2]);
      right = std::max(right, table[k * 2 + 1]);
    }
    out[size_t{i} * 2] = left;
    out[size_t{i} * 2 + 1] = right;
    previous = f;
  }
  return true;
}

// The columns as the strip asks for them: `out` holds 2 x `count` bytes.
// Reads what the table lacks from the recorder on the calling thread.
// 1 when done or at the end of the recording, 0 when a read from the
// recorder fails (its last error) or the decoder refuses a frame (13).
int BuildWaveColumns(RecordingReader& reader, uint8_t* out, uint32_t count, uint32_t start_ms,
                     uint32_t length_ms);

}  // namespace lyr
