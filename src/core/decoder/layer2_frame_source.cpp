#include "decoder/layer2_frame_source.h"

#include <cstring>

namespace lyr {

Layer2StreamLock Layer2StreamLock::OfRecording(const RecordingRecord& record) {
  return {MpegHeader::kMpeg1, record.SampleRate(), record.Channels() >= 2 ? 2u : 1u};
}

Layer2StreamLock Layer2StreamLock::OfHeader(const MpegHeader& header) {
  return {header.VersionBits(), header.SampleRate(), header.Channels()};
}

bool Layer2StreamLock::Holds(const MpegHeader& header) const {
  return header.VersionBits() == version_bits && header.SampleRate() == sample_rate &&
         header.Channels() == channels;
}

void Layer2FrameSource::Push(std::span<const uint8_t> bytes) {
  if (bytes.empty()) return;
  std::memcpy(Room(bytes.size()).data(), bytes.data(), bytes.size());
  Commit(bytes.size());
}

std::span<uint8_t> Layer2FrameSource::Room(size_t bytes) {
  // Held bytes move to the front first, so that the buffer grows only to
  // what is held plus one piece.
  if (begin_ != 0) {
    std::memmove(buffer_.data(), buffer_.data() + begin_, end_ - begin_);
    end_ -= begin_;
    begin_ = 0;
  }
  if (buffer_.size() < end_ + bytes) buffer_.resize(end_ + bytes);
  return {buffer_.data() + end_, bytes};
}

void Layer2FrameSource::Commit(size_t bytes) { end_ += bytes; }

std::span<const uint8_t> Layer2FrameSource::Next() {
  locked_by_last_ = false;
  while (end_ - begin_ >= 4) {
    const uint8_t* p = buffer_.data() + begin_;
    if (p[0] != 0xFF) {
      // No byte but 0xFF starts a header.
      const void* sync = std::memchr(p + 1, 0xFF, end_ - begin_ - 1);
      Skip(sync == nullptr ? end_ - begin_ : static_cast<size_t>(static_cast<const uint8_t*>(sync) - p));
      continue;
    }
    const MpegHeader header = MpegHeader::FromBytes(p);
    if (!header.IsValid() || header.LayerBits() != MpegHeader::kLayer2 || (locked_ && !lock_.Holds(header))) {
      Skip(1);
      continue;
    }
    const size_t length = header.FrameLength();
    if (length > end_ - begin_) break;  // its end has not arrived yet
    if (!locked_) {
      lock_ = Layer2StreamLock::OfHeader(header);
      locked_ = locked_by_last_ = true;
    }
    header_ = header;
    begin_ += length;
    taken_ += length;
    return {p, length};
  }
  // What is left can only be the start of a frame; once the stream has
  // ended, nothing will complete it.
  if (ended_) Skip(end_ - begin_);
  return {};
}

void Layer2FrameSource::Refuse() {
  const size_t length = header_.FrameLength();
  if (length == 0 || begin_ < length) return;
  begin_ -= length;
  taken_ -= length;
  Skip(1);
  header_ = MpegHeader();
  if (locked_by_last_) locked_ = locked_by_last_ = false;
}

void Layer2FrameSource::Reset() {
  begin_ = end_ = 0;
  taken_ = skipped_ = 0;
  ended_ = false;
  header_ = MpegHeader();
  locked_by_last_ = false;
}

}  // namespace lyr
