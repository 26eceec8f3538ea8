// The waveform overview of PCM recordings: column heights of known signals,
// the per-frame cache, read failures, and the builder's worker (progress,
// cancel, failure).
#include "playback/wave_columns.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <mutex>

#include "platform/last_error.h"
#include "platform/thread_priority.h"
#include "core/playback/playback_fixture.h"
#include "playback/recording_reader.h"
#include "core/playback/twolame_encoder.h"
#include "playback/wave_builder.h"
#include "recordings/mpeg_header.h"

namespace lyr::test {
namespace {

// Tones whose period is a whole number of samples with a sample on the
// crest, so that every block of samples reaches the full amplitude.
std::vector<int16_t> Crests(int rate, int channels, double seconds, const std::vector<int>& peaks) {
  const size_t n = static_cast<size_t>(seconds * rate);
  std::vector<int16_t> pcm(n * static_cast<size_t>(channels));
  for (size_t i = 0; i < n; ++i)
    for (int ch = 0; ch < channels; ++ch) {
      const double cycle = static_cast<double>(rate) / (1000.0 / (ch + 1));  // 1 kHz, 500 Hz
      pcm[i * channels + ch] = static_cast<int16_t>(
          std::lround(peaks[ch] * std::sin(2 * 3.14159265358979 * static_cast<double>(i) / cycle)));
    }
  return pcm;
}

// The stored value of a peak, worked out by hand: 128 steps of 16-bit
// magnitude per step, 1 for silence, 255 at most.
uint8_t Expected(int peak) { return static_cast<uint8_t>(std::min(255, peak / 128 + 1)); }

class WaveColumnsTest : public PlaybackFixture {};

TEST_F(WaveColumnsTest, SineColumnsOfAStereoRecordingAndTheEndOfIt) {
  // 10 s at 48 kHz in a 30 s window of 500 columns: 2.5 frames a column,
  // 417 frames, so columns from the one at frame 417 on stay empty.
  const uint32_t entry = AddPcm(Bytes(Crests(48000, 2, 10, {20000, 9000})));
  Connect();
  RecordingReader reader(*link_);
  ASSERT_EQ(reader.OpenRecordingReader(entry), 1);
  std::vector<uint8_t> columns(1000, 0xAA);
  ASSERT_EQ(BuildWaveColumns(reader, columns.data(), 500, 0, 30000), 1);
  for (uint32_t i = 0; i < 500; ++i) {
    const bool inside = static_cast<uint32_t>(i * 2.5) < 417;
    EXPECT_EQ(columns[i * 2], inside ? Expected(20000) : 0) << i;
    EXPECT_EQ(columns[i * 2 + 1], inside ? Expected(9000) : 0) << i;
  }
  EXPECT_EQ(Expected(20000), 157);

  // The builder's columns from its own whole-frame pieces agree.
  WaveBuilder builder(*link_);
  builder.Start(entry);
  ASSERT_TRUE(WaitFor([&] { return builder.Progress().finished; }));
  const WaveBuildProgress done = builder.Progress();
  EXPECT_TRUE(done.result.ok()) << done.result.error().Message();
  EXPECT_EQ(done.frames_ready, 417u);
  EXPECT_EQ(done.frame_count, 417u);
  std::vector<uint8_t> built(1000, 0xAA);
  builder.Columns(built, 500, 0, 30000);
  EXPECT_EQ(built, columns);
}

TEST_F(WaveColumnsTest, MonoSilenceThenFullScaleAndTheCacheAvoidsSecondReads) {
  // 32 kHz mono: 5 s of silence, then 5 s of a full-scale tone (32767 on the crest).
  std::vector<int16_t> pcm(160000, 0);
  const auto loud = Crests(32000, 1, 5, {32767});
  pcm.insert(pcm.end(), loud.begin(), loud.end());
  const uint32_t entry = AddPcm(Bytes(pcm), 32000, 1);
  Connect();
  RecordingReader reader(*link_);
  ASSERT_EQ(reader.OpenRecordingReader(entry), 1);
  ASSERT_EQ(reader.frame_count(), 640000u / 2304 + 1);
  std::vector<uint8_t> columns(600);
  ASSERT_EQ(BuildWaveColumns(reader, columns.data(), 300, 0, 30000), 1);
  const double frames_per_column = 32000.0 * 30 / 1152 / 300;
  int silent = 0, full = 0;
  for (uint32_t i = 0; i < 300; ++i) {
    const auto f = static_cast<uint64_t>(i * frames_per_column);
    SCOPED_TRACE(i);
    EXPECT_EQ(columns[i * 2], columns[i * 2 + 1]);
    if (f >= reader.frame_count()) {
      EXPECT_EQ(columns[i * 2], 0);
    } else if (f * 1152 + kWaveReadBytes / 2 <= 160000) {
      EXPECT_EQ(columns[i * 2], 1);  // silence is 1, not the 0 of "not computed"
      ++silent;
    } else if (f > 0 && static_cast<uint64_t>((i - 1) * frames_per_column) * 1152 >= 160000) {
      EXPECT_EQ(columns[i * 2], 255);  // 32767 >> 7 is 255, the ceiling
      ++full;
    }
  }
  EXPECT_GT(silent, 40);
  EXPECT_GT(full, 40);

  // A window over frames already seen asks the recorder for nothing.
  const uint64_t commands = recorder_.emulator().stats().commands;
  std::vector<uint8_t> again(600);
  ASSERT_EQ(BuildWaveColumns(reader, again.data(), 300, 0, 30000), 1);
  EXPECT_EQ(again, columns);
  EXPECT_EQ(recorder_.emulator().stats().commands, commands);
}

TEST_F(WaveColumnsTest, AReadFailureKeepsTheColumnsComputedSoFar) {
  const uint32_t entry = AddPcm(Bytes(Crests(48000, 2, 20, {20000, 9000})));
  Connect();
  RecordingReader reader(*link_);
  ASSERT_EQ(reader.OpenRecordingReader(entry), 1);
  recorder_.config().read_fail_offset = 4608 * 600;
  std::vector<uint8_t> columns(1000);
  SetLastError(0);
  EXPECT_EQ(BuildWaveColumns(reader, columns.data(), 500, 0, 30000), 0);
  EXPECT_EQ(GetLastError(), kErrorConnectionUnavail);
  EXPECT_EQ(columns[0], Expected(20000));
  EXPECT_EQ(columns[999], 0);

  // The builder says why it stopped and keeps what it had.
  link_ = recorder_.MakeLink();
  WaveBuilder builder(*link_);
  builder.Start(entry);
  ASSERT_TRUE(WaitFor([&] { return builder.Progress().finished; }));
  const WaveBuildProgress done = builder.Progress();
  ASSERT_FALSE(done.result.ok());
  EXPECT_EQ(done.result.error().code, kErrorConnectionUnavail);
  EXPECT_GT(done.frames_ready, 0u);
  EXPECT_LT(done.frames_ready, 600u);
  EXPECT_EQ(builder.FramePeaks()[0], Expected(20000));
}

TEST_F(WaveColumnsTest, BuilderReportsProgressAndStopsWhenCancelled) {
  const uint32_t entry = AddPcm(Bytes(Crests(48000, 2, 60, {20000, 9000})));
  Connect();
  recorder_.config().slow_reply_ms = 20;
  std::mutex seen_mutex;
  std::vector<WaveBuildProgress> seen;
  WaveBuilder builder(*link_, [&](const WaveBuildProgress& p) {
    std::lock_guard lock(seen_mutex);
    seen.push_back(p);
  });
  builder.Start(entry);
  ASSERT_TRUE(WaitFor([&] { return builder.Progress().frames_ready > 20; }));
  // What is ready already shows; the rest is empty.
  std::vector<uint8_t> columns(200);
  builder.Columns(columns, 100, 0, 60000);
  EXPECT_EQ(columns[0], Expected(20000));
  EXPECT_EQ(columns[199], 0);

  const auto before = std::chrono::steady_clock::now();
  builder.Cancel();
  EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(2));
  const WaveBuildProgress done = builder.Progress();
  EXPECT_TRUE(done.finished);
  ASSERT_FALSE(done.result.ok());
  EXPECT_EQ(done.result.error().code, kErrorCancelled);
  EXPECT_LT(done.frames_ready, done.frame_count);

  {
    std::lock_guard lock(seen_mutex);
    ASSERT_GE(seen.size(), 3u);
    for (size_t i = 1; i < seen.size(); ++i) EXPECT_GE(seen[i].frames_ready, seen[i - 1].frames_ready);
    EXPECT_TRUE(seen.back().finished);
    EXPECT_EQ(std::count_if(seen.begin(), seen.end(), [](const auto& p) { return p.finished; }), 1);
  }

  // A pause between pieces is cut short by the cancel, too.
  builder.SetPace(std::chrono::hours(1));
  recorder_.config().slow_reply_ms = 0;
  builder.Start(entry);
  ASSERT_TRUE(WaitFor([&] { return builder.Progress().frame_count != 0; }));
  builder.Cancel();
  EXPECT_EQ(builder.Progress().result.error().code, kErrorCancelled);
}

TEST_F(WaveColumnsTest, PlaybackReadsGetTheLinkBetweenTheBuildersReads) {
  // PCM leaves the builder nothing to decode between its reads: without
  // letting waiting threads in, it would take the link back at once.
  const uint32_t entry = AddPcm(Bytes(Crests(48000, 2, 60, {20000, 9000})));
  Connect();
  recorder_.config().slow_reply_ms = 4;
  WaveBuilder builder(*link_);
  builder.Start(entry);
  ASSERT_TRUE(WaitFor([&] { return builder.Progress().frames_ready > 0; }));
  // Reads as the player's reader makes them, at the same idle priority.
  std::chrono::steady_clock::duration longest{};
  int failed = 0;
  std::thread player([&] {
    LowerThisThreadsPriority();
    std::vector<uint8_t> chunk(32768);
    for (int i = 0; i < 40 && !builder.Progress().finished; ++i) {
      const auto start = std::chrono::steady_clock::now();
      if (link_->ReadRecordingData(entry, 4608 * 50 * i, 32768, chunk.data()) != 1) ++failed;
      longest = std::max(longest, std::chrono::steady_clock::now() - start);
    }
  });
  player.join();
  EXPECT_EQ(failed, 0);
  EXPECT_FALSE(builder.Progress().finished);  // the reads overlapped the build
  // Its own read and at most one of the builder's, with room for a busy machine
  // (without the hand-off: up to a second).
  EXPECT_LT(longest, std::chrono::milliseconds(100));
  builder.Cancel();
  EXPECT_EQ(link_->ExchangesWaiting(), 0);
}

TEST_F(WaveColumnsTest, APaddedFrameCutByTheEndOfAReadWaitsForTheNextRead) {
  // At 44.1 kHz every few frames carry a padding byte: a read that ends one
  // byte into such a frame's padding holds an unpadded frame length of it.
  EncoderSettings settings;
  settings.sample_rate = 44100;
  settings.kbits = 128;
  settings.padding = true;
  const auto stream = EncodeLayer2(TwoTones(44100, 2, 2), settings);
  ASSERT_FALSE(stream.empty());
  const uint32_t entry = AddLayer2(stream, 44100, 128000);
  Connect();
  RecordingReader reader(*link_);
  ASSERT_EQ(reader.OpenRecordingReader(entry), 1);
  size_t at = 0, frame = 0;
  while (MpegHeader::FromBytes(stream.data() + at).Padding() == 0 || frame < 3) {
    at += MpegHeader::FromBytes(stream.data() + at).FrameLength();
    ++frame;
  }
  ASSERT_EQ(MpegHeader::FromBytes(stream.data() + at).FrameLength(), reader.frame_length() + 1);
  const std::span<const uint8_t> piece(stream.data(), at + reader.frame_length());
  std::vector<uint8_t> peaks(200);
  const auto got = ComputePiecePeaks(reader, piece, 0, 0, 0, peaks);
  ASSERT_TRUE(got.ok()) << got.error().Message();
  EXPECT_EQ(got.value().frames, frame);
  EXPECT_EQ(got.value().end_offset, at);
}

TEST_F(WaveColumnsTest, JunkAndOtherStreamsBetweenFramesAreSkipped) {
  EncoderSettings settings;
  settings.sample_rate = 48000;
  settings.kbits = 128;
  const auto clean = EncodeLayer2(TwoTones(48000, 2, 0.5), settings);
  settings.sample_rate = 32000;
  const auto other = EncodeLayer2(TwoTones(32000, 2, 0.1), settings);
  const size_t frame = MpegHeader::FromBytes(clean.data()).FrameLength();
  ASSERT_GT(clean.size(), 12 * frame);
  // Junk with a stray sync after frame 3, a frame of another sample rate after frame 7.
  std::vector<uint8_t> dirty(clean.begin(), clean.begin() + 4 * frame);
  dirty.insert(dirty.end(), {0x00, 0xFF, 0xFD, 0x00, 0x13});
  dirty.insert(dirty.end(), clean.begin() + 4 * frame, clean.begin() + 8 * frame);
  dirty.insert(dirty.end(), other.begin(), other.begin() + MpegHeader::FromBytes(other.data()).FrameLength());
  dirty.insert(dirty.end(), clean.begin() + 8 * frame, clean.begin() + 12 * frame);
  const std::vector<uint8_t> twelve(clean.begin(), clean.begin() + 12 * frame);
  const uint32_t dirty_entry = AddLayer2(dirty, 48000, 128000);
  const uint32_t clean_entry = AddLayer2(twelve, 48000, 128000);
  Connect();
  auto peaks_of = [&](uint32_t entry, const std::vector<uint8_t>& stream) {
    RecordingReader reader(*link_);
    EXPECT_EQ(reader.OpenRecordingReader(entry), 1);
    std::vector<uint8_t> peaks(200);
    const auto got = ComputePiecePeaks(reader, stream, 0, 0, 0, peaks);
    EXPECT_TRUE(got.ok()) << got.error().Message();
    EXPECT_EQ(got.value().frames, 12u);
    EXPECT_EQ(got.value().end_offset, stream.size());
    peaks.resize(24);
    return peaks;
  };
  EXPECT_EQ(peaks_of(dirty_entry, dirty), peaks_of(clean_entry, twelve));
}

}  // namespace
}  // namespace lyr::test
