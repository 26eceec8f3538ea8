#pragma once
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "recordings/mpeg_header.h"
#include "recordings/recording_record.h"

namespace lyr {

// The stream a Layer II frame must belong to: a header of another version,
// sample rate or channel count inside it is junk, not a frame start.
struct Layer2StreamLock {
  uint32_t version_bits = MpegHeader::kMpeg1;
  uint32_t sample_rate = 0;  // Hz
  uint32_t channels = 0;     // 1 for single channel, 2 for every other mode

  // What the recorder writes for a recording: MPEG-1 at its rate and channel count.
  static Layer2StreamLock OfRecording(const RecordingRecord& record);
  // The stream a header starts.
  static Layer2StreamLock OfHeader(const MpegHeader& header);
  bool Holds(const MpegHeader& header) const;
};

// The one place Layer II frames are found in a byte stream. Bytes go in as
// they arrive, in pieces of any size; whole frames come out. A frame starts
// where four bytes are a valid Layer II header (sync, a version, sample rate
// and bit rate from the tables: no free format) of the locked stream; other
// bytes are skipped. A frame whose end has not arrived yet is held until it
// has; at the end of the stream it is skipped.
class Layer2FrameSource {
 public:
  // The first frame found fixes the stream (any version the decoder takes).
  Layer2FrameSource() = default;
  // Frames of `lock` only.
  explicit Layer2FrameSource(const Layer2StreamLock& lock) : lock_(lock), locked_(true) {}

  // Appends bytes. Frames given out before stay valid until the next Push or Room.
  void Push(std::span<const uint8_t> bytes);
  // Room for `bytes` more bytes, to be filled in place; Commit says how many were.
  std::span<uint8_t> Room(size_t bytes);
  void Commit(size_t bytes);
  // No more bytes will come.
  void End() { ended_ = true; }
  bool ended() const { return ended_; }

  // The next whole frame, or empty when more bytes are needed (or, after
  // End, when the stream is used up).
  std::span<const uint8_t> Next();
  // The frame Next gave was no frame after all (its user could not decode
  // it): the search goes on from its second byte, which is counted skipped.
  // Only right after Next.
  void Refuse();
  // Drops every held byte and starts the counts anew (a seek): what comes
  // next is another part of the same stream, so the lock is kept.
  void Reset();

  // Bytes pushed and not yet given out or skipped.
  size_t held() const { return end_ - begin_; }
  // Bytes pushed that were skipped: junk, other streams, a cut last frame.
  uint64_t skipped_bytes() const { return skipped_; }
  // Bytes given out or skipped: the stream offset of the first held byte.
  uint64_t position() const { return taken_; }
  bool locked() const { return locked_; }
  const Layer2StreamLock& lock() const { return lock_; }
  // The header of the frame Next gave last.
  MpegHeader header() const { return header_; }

 private:
  void Skip(size_t count) {
    begin_ += count;
    taken_ += count;
    skipped_ += count;
  }

  Layer2StreamLock lock_;
  bool locked_ = false;
  bool locked_by_last_ = false;  // the frame Next gave last set the lock
  bool ended_ = false;
  std::vector<uint8_t> buffer_;
  size_t begin_ = 0, end_ = 0;
  uint64_t taken_ = 0;
  uint64_t skipped_ = 0;
  MpegHeader header_;
};

}  // namespace lyr
