#include "playback/player_stream.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>

#include "platform/last_error.h"
#include "core/playback/playback_fixture.h"
#include "core/playback/twolame_encoder.h"
#include "support/layer2_decode.h"

namespace lyr {
namespace {

using test::WaitFor;

// Everything a stream delivers from where it stands to its end, read in
// pieces of `piece` bytes, waiting where the data is late.
std::vector<uint8_t> StreamToEnd(CPlayerStream& stream, uint32_t piece = 4000) {
  std::vector<uint8_t> out;
  std::vector<uint8_t> buf(piece);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (std::chrono::steady_clock::now() < deadline) {
    uint32_t got = 0;
    const int result = stream.Read(buf.data(), piece, &got);
    out.insert(out.end(), buf.begin(), buf.begin() + got);
    if (result == 0) continue;
    const uint32_t error = GetLastError();
    if (error == kErrorHandleEof) return out;
    EXPECT_EQ(error, kErrorIoPending);
    if (error != kErrorIoPending) return out;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  ADD_FAILURE() << "the stream did not end";
  return out;
}

// What the decoder makes of `bytes` on its own, as bytes.
std::vector<uint8_t> Decoded(const std::vector<uint8_t>& bytes) {
  return test::Bytes(lyr_test::DecodeLayer2Bytes(bytes));
}

std::vector<uint8_t> Layer2(int rate, int kbits, double seconds, int channels = 2) {
  test::EncoderSettings settings;
  settings.sample_rate = rate;
  settings.kbits = kbits;
  settings.mode = channels == 2 ? test::StreamMode::kStereo : test::StreamMode::kSingleChannel;
  settings.padding = true;
  return test::EncodeLayer2(test::TwoTones(rate, channels, seconds), settings);
}

class PlayerStreamTest : public test::PlaybackFixture {};

TEST_F(PlayerStreamTest, PcmIsTheStoredAudioAcrossSeeks) {
  const auto data = lyr_test::EmulatedRecorder::Pattern(48000 * 4 * 3 + 100, 4);  // 3 s and a bit
  const uint32_t entry = AddPcm(data);
  Connect();
  CPlayerStream stream(buffer_.get(), *link_);
  ASSERT_EQ(stream.Open(entry), 0);
  const WaveFormat* f = stream.GetFormat();
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(f->channels, 2);
  EXPECT_EQ(f->block_align, 4);
  EXPECT_EQ(f->avg_bytes_per_sec, 192000u);
  EXPECT_NEAR(stream.GetDuration(), 3.0, 0.001);
  EXPECT_EQ(StreamToEnd(stream), data);
  EXPECT_NEAR(stream.GetTime(), stream.GetDuration(), 1e-9);

  ASSERT_EQ(stream.SeekTime(1.5f), 0);
  EXPECT_EQ(stream.GetPosition(), 288000u);
  auto got = StreamToEnd(stream, 777);
  EXPECT_TRUE(std::equal(got.begin(), got.end(), data.begin() + 288000));
  EXPECT_EQ(got.size(), data.size() - 288000);

  EXPECT_EQ(stream.Close(), 0);
  EXPECT_EQ(stream.Close(), 1) << "nothing open";
  uint32_t n = 99;
  uint8_t byte;
  EXPECT_EQ(stream.Read(&byte, 1, &n), 1);
  EXPECT_EQ(n, 0u);
  EXPECT_EQ(GetLastError(), kErrorFileNotFound);
}

TEST_F(PlayerStreamTest, EmptyRecordingIsPendingThenEnded) {
  const uint32_t entry = AddPcm({});
  Connect();
  CPlayerStream stream(buffer_.get(), *link_);
  ASSERT_EQ(stream.Open(entry), 0);
  uint8_t byte;
  uint32_t got = 0;
  ASSERT_TRUE(WaitFor([&] {
    stream.Read(&byte, 1, &got);
    return GetLastError() == kErrorHandleEof;
  }));
}

TEST_F(PlayerStreamTest, Layer2IsTheDecoderOutputForTheSameBytes) {
  // Junk before the first frame and after the last one, then a frame cut
  // off by the end of the recording: the stream ends, it is no bad data.
  std::vector<uint8_t> data(777, 0);
  const auto frames = Layer2(48000, 192, 3.0);
  data.insert(data.end(), frames.begin(), frames.end());
  data.insert(data.end(), 300, 0);
  data.insert(data.end(), frames.begin(), frames.begin() + 400);
  const uint32_t entry = AddLayer2(data, 48000, 192000);
  Connect();
  CPlayerStream stream(buffer_.get(), *link_);
  ASSERT_EQ(stream.Open(entry), 0);
  EXPECT_EQ(stream.GetFormat()->channels, 2);
  EXPECT_NEAR(stream.GetDuration(), data.size() * 8.0 / 192000, 1e-9);
  const auto expected = Decoded(data);
  ASSERT_GT(expected.size(), 48000u * 4 * 2);
  EXPECT_EQ(StreamToEnd(stream), expected);

  // From a frame start in the middle, as a fresh decode of the bytes from there.
  const uint32_t offset = 777 + 576 * 100;
  ASSERT_EQ(stream.Seek(offset), 0);
  EXPECT_EQ(StreamToEnd(stream, 1000), Decoded({data.begin() + offset, data.end()}));
}

TEST_F(PlayerStreamTest, SeekAfterTheEndRestoresTheInputBuffer) {
  // 44.1 kHz frames are 626 or 627 bytes: an input buffer left at what the
  // end of the recording held cannot take a whole frame again.
  const auto data = Layer2(44100, 192, 2.0);
  const uint32_t entry = AddLayer2(data, 44100, 192000);
  Connect();
  CPlayerStream stream(buffer_.get(), *link_);
  ASSERT_EQ(stream.Open(entry), 0);
  const auto first = StreamToEnd(stream);
  EXPECT_LT(stream.BuffInSize(), CPlayerStream::kBuffInCapacity);
  ASSERT_EQ(stream.Seek(0), 0);
  EXPECT_EQ(stream.BuffInSize(), CPlayerStream::kBuffInCapacity);
  EXPECT_EQ(StreamToEnd(stream), first);
  EXPECT_EQ(first, Decoded(data));
}

TEST_F(PlayerStreamTest, FailedRecorderReadIsADeviceError) {
  const auto data = lyr_test::EmulatedRecorder::Pattern(10 * 32768, 4);
  const uint32_t pcm = AddPcm(data);
  const uint32_t mpeg = AddLayer2(Layer2(48000, 192, 8.0), 48000, 192000);
  recorder_.config().read_fail_offset = 2 * 32768 + 5;
  Connect();
  for (uint32_t entry : {pcm, mpeg}) {
    CPlayerStream stream(buffer_.get(), *link_);
    ASSERT_EQ(stream.Open(entry), 0);
    std::vector<uint8_t> buf(5000);
    uint32_t got = 0;
    uint64_t total = 0;
    ASSERT_TRUE(WaitFor([&] {
      if (stream.Read(buf.data(), 5000, &got) == 0 || GetLastError() == kErrorIoPending) {
        total += got;
        return false;
      }
      total += got;
      return true;
    })) << entry;
    EXPECT_EQ(GetLastError(), kErrorIoDevice) << entry;
    EXPECT_GT(total, 0u) << entry;
  }
}

}  // namespace
}  // namespace lyr
