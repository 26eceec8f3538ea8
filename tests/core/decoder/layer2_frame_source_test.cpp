#include "decoder/layer2_frame_source.h"

#include <gtest/gtest.h>

#include <vector>

namespace lyr {
namespace {

using Bytes = std::vector<uint8_t>;

// A frame with a valid header and a body no header can start in (no 0xFF):
// the source looks at headers only, so small fixtures need no encoder.
Bytes Frame(uint32_t sample_rate, uint32_t kbits, uint32_t mode = MpegHeader::kStereo,
            uint32_t version = MpegHeader::kMpeg1, uint8_t fill = 0x11) {
  const MpegHeader h = MpegHeader::FromRates(version, MpegHeader::kLayer2, sample_rate, kbits * 1000, mode);
  EXPECT_TRUE(h.IsValid());
  Bytes f(h.FrameLength(), fill);
  for (int i = 0; i < 4; ++i) f[static_cast<size_t>(i)] = static_cast<uint8_t>(h.Word() >> (24 - 8 * i));
  return f;
}

void Append(Bytes& to, const Bytes& bytes) { to.insert(to.end(), bytes.begin(), bytes.end()); }

// Every frame the source gives for the bytes pushed so far.
std::vector<Bytes> Drain(Layer2FrameSource& source) {
  std::vector<Bytes> out;
  for (auto f = source.Next(); !f.empty(); f = source.Next()) out.emplace_back(f.begin(), f.end());
  return out;
}

const Layer2StreamLock kRecording{MpegHeader::kMpeg1, 48000, 2};

TEST(Layer2FrameSource, SkipsJunkOtherStreamsAndACutLastFrame) {
  const Bytes a = Frame(48000, 64, MpegHeader::kStereo, MpegHeader::kMpeg1, 0x11);
  const Bytes b = Frame(48000, 64, MpegHeader::kJointStereo, MpegHeader::kMpeg1, 0x22);
  const Bytes c = Frame(48000, 80, MpegHeader::kDualChannel, MpegHeader::kMpeg1, 0x33);
  Bytes stream = {0x00, 0xFF, 0x12, 0xFF};  // junk, stray syncs
  Append(stream, a);
  Append(stream, {0xFF, 0xFB, 0x90, 0x64});        // a Layer III header
  Append(stream, {0xFF, 0xFD, 0x04, 0x00, 0x00});  // free format
  Append(stream, b);
  Append(stream, Frame(44100, 64));                                           // another sample rate
  Append(stream, Frame(48000, 64, MpegHeader::kSingleChannel));               // another channel count
  Append(stream, Frame(24000, 64, MpegHeader::kStereo, MpegHeader::kMpeg2));  // another version
  Append(stream, c);
  const size_t frames_end = stream.size();
  Append(stream, Bytes(a.begin(), a.begin() + 100));  // cut off by the end

  Layer2FrameSource source(kRecording);
  source.Push(stream);
  EXPECT_EQ(Drain(source), (std::vector<Bytes>{a, b, c}));
  // The cut frame waits for its end...
  EXPECT_EQ(source.held(), 100u);
  EXPECT_EQ(source.position(), frames_end);
  // ...which never comes.
  source.End();
  EXPECT_TRUE(Drain(source).empty());
  EXPECT_EQ(source.held(), 0u);
  EXPECT_EQ(source.position(), stream.size());
  EXPECT_EQ(source.skipped_bytes(), stream.size() - a.size() - b.size() - c.size());
}

TEST(Layer2FrameSource, FirstFrameLocksTheStream) {
  const Bytes lsf = Frame(24000, 64, MpegHeader::kSingleChannel, MpegHeader::kMpeg2);
  const Bytes other = Frame(48000, 64);
  Bytes stream = {0x00, 0x7F};
  Append(stream, lsf);
  Append(stream, other);
  Append(stream, lsf);
  Layer2FrameSource source;
  EXPECT_FALSE(source.locked());
  source.Push(stream);
  source.End();
  EXPECT_EQ(Drain(source), (std::vector<Bytes>{lsf, lsf}));
  EXPECT_EQ(source.lock().version_bits, MpegHeader::kMpeg2);
  EXPECT_EQ(source.lock().sample_rate, 24000u);
  EXPECT_EQ(source.lock().channels, 1u);
  EXPECT_EQ(source.skipped_bytes(), 2 + other.size());

  // A recording's lock takes neither.
  Layer2FrameSource fixed(kRecording);
  fixed.Push(stream);
  fixed.End();
  EXPECT_EQ(Drain(fixed), (std::vector<Bytes>{other}));
}

TEST(Layer2FrameSource, AFrameSplitAtAnyByteComesOutWhole) {
  const Bytes a = Frame(48000, 32, MpegHeader::kStereo, MpegHeader::kMpeg1, 0x11);
  const Bytes b = Frame(48000, 48, MpegHeader::kStereo, MpegHeader::kMpeg1, 0x22);
  Bytes stream = {0x01, 0xFF, 0x02};
  Append(stream, a);
  Append(stream, b);
  // The first piece ends at every byte of the stream: a frame comes out as
  // soon as, and only when, its last byte has arrived.
  for (size_t cut = 0; cut <= stream.size(); ++cut) {
    SCOPED_TRACE(cut);
    Layer2FrameSource source(kRecording);
    source.Push({stream.data(), cut});
    std::vector<Bytes> early;
    if (cut >= 3 + a.size()) early.push_back(a);
    if (cut == stream.size()) early.push_back(b);
    EXPECT_EQ(Drain(source), early);
    source.Push({stream.data() + cut, stream.size() - cut});
    source.End();
    std::vector<Bytes> all = early;
    for (const Bytes& f : Drain(source)) all.push_back(f);
    EXPECT_EQ(all, (std::vector<Bytes>{a, b}));
    EXPECT_EQ(source.skipped_bytes(), 3u);
  }
}

TEST(Layer2FrameSource, ARefusedFrameIsJunkAndResetKeepsTheLock) {
  // A header inside a refused frame's body is found again.
  const Bytes inner = Frame(32000, 32, MpegHeader::kStereo, MpegHeader::kMpeg1, 0x44);
  Bytes outer = Frame(32000, 64, MpegHeader::kStereo, MpegHeader::kMpeg1, 0x55);
  std::copy(inner.begin(), inner.end(), outer.begin() + 10);
  Layer2FrameSource source;
  source.Push(outer);
  source.End();
  ASSERT_EQ(source.Next().size(), outer.size());
  source.Refuse();
  EXPECT_FALSE(source.locked());  // the lock came from the refused frame
  const auto f = source.Next();
  EXPECT_EQ(Bytes(f.begin(), f.end()), inner);
  EXPECT_EQ(source.position(), 10 + inner.size());
  EXPECT_EQ(source.skipped_bytes(), 10u);

  // After a seek: new bytes, the same stream.
  source.Reset();
  EXPECT_EQ(source.held(), 0u);
  source.Push(Frame(48000, 64));
  source.Push(inner);
  EXPECT_EQ(Drain(source), (std::vector<Bytes>{inner}));
}

}  // namespace
}  // namespace lyr
