// The waveform peaks of twolame-made Layer II recordings, read from the
// stand-in recorder, against the same bytes decoded by libmpg123.
#include <gtest/gtest.h>
#include <mpg123.h>

#include <cmath>
#include <cstdlib>

#include "core/playback/playback_fixture.h"
#include "playback/recording_reader.h"
#include "core/playback/twolame_encoder.h"
#include "playback/wave_builder.h"
#include "playback/wave_columns.h"

namespace lyr::test {
namespace {

// Stereo 16-bit samples of the whole stream, one channel doubled.
std::vector<int16_t> Mpg123Decode(const std::vector<uint8_t>& stream, long rate) {
  std::vector<int16_t> pcm;
  mpg123_handle* mh = mpg123_new(nullptr, nullptr);
  if (mh == nullptr) return pcm;
  mpg123_param(mh, MPG123_REMOVE_FLAGS, MPG123_GAPLESS, 0);
  mpg123_param(mh, MPG123_ADD_FLAGS, MPG123_FORCE_STEREO | MPG123_QUIET, 0);
  mpg123_format_none(mh);
  mpg123_format(mh, rate, MPG123_STEREO, MPG123_ENC_SIGNED_16);
  if (mpg123_open_feed(mh) == MPG123_OK && mpg123_feed(mh, stream.data(), stream.size()) == MPG123_OK) {
    std::vector<unsigned char> out(65536);
    for (;;) {
      size_t done = 0;
      const int rc = mpg123_read(mh, out.data(), out.size(), &done);
      const auto* s = reinterpret_cast<const int16_t*>(out.data());
      pcm.insert(pcm.end(), s, s + done / 2);
      if (rc != MPG123_OK && rc != MPG123_NEW_FORMAT) break;
    }
  }
  mpg123_delete(mh);
  return pcm;
}

// Per frame of 1152 stereo samples: (peak >> 7) + 1 of each side, at most 255.
std::vector<uint8_t> ReferencePeaks(const std::vector<int16_t>& stereo) {
  std::vector<uint8_t> peaks;
  for (size_t at = 0; at < stereo.size(); at += 2304) {
    int peak[2] = {0, 0};
    for (size_t i = at; i < std::min(stereo.size(), at + 2304); ++i)
      peak[i % 2] = std::max(peak[i % 2], std::abs(int{stereo[i]}));
    for (int p : peak) peaks.push_back(static_cast<uint8_t>(std::min(255, p / 128 + 1)));
  }
  return peaks;
}

// A tone under a slow swell, left and right out of step, with a silent gap.
std::vector<int16_t> Swell(int rate, int channels, double seconds) {
  const size_t n = static_cast<size_t>(seconds * rate);
  std::vector<int16_t> pcm(n * static_cast<size_t>(channels));
  for (size_t i = 0; i < n; ++i) {
    const double t = static_cast<double>(i) / rate;
    for (int ch = 0; ch < channels; ++ch) {
      const double envelope =
          (t > 2.0 && t < 2.5) ? 0 : 0.05 + 0.8 * std::abs(std::sin(3.14159 * (0.4 + 0.3 * ch) * t));
      pcm[i * channels + ch] = static_cast<int16_t>(
          std::lround(32767 * envelope * std::sin(2 * 3.14159265 * (300.0 + 200 * ch) * t)));
    }
  }
  return pcm;
}

struct Case {
  int rate;
  int kbits;
  StreamMode mode;
  bool padding;
};

class WaveReferenceTest : public PlaybackFixture, public ::testing::WithParamInterface<Case> {};

TEST_P(WaveReferenceTest, PeaksAndColumnsMatchMpg123) {
  const Case c = GetParam();
  const int channels = c.mode == StreamMode::kSingleChannel ? 1 : 2;
  EncoderSettings settings;
  settings.sample_rate = c.rate;
  settings.mode = c.mode;
  settings.kbits = c.kbits;
  settings.padding = c.padding;
  const auto stream = EncodeLayer2(Swell(c.rate, channels, 6), settings);
  ASSERT_FALSE(stream.empty());
  const auto reference = ReferencePeaks(Mpg123Decode(stream, c.rate));
  ASSERT_GT(reference.size(), 200u);

  const uint32_t entry = AddLayer2(stream, static_cast<uint32_t>(c.rate),
                                   static_cast<uint32_t>(c.kbits) * 1000, static_cast<uint16_t>(channels));
  Connect();

  // The worker: every frame, in order.
  WaveBuilder builder(*link_);
  builder.Start(entry);
  ASSERT_TRUE(WaitFor([&] { return builder.Progress().finished; }));
  const WaveBuildProgress done = builder.Progress();
  ASSERT_TRUE(done.result.ok()) << done.result.error().Message();
  const auto peaks = builder.FramePeaks();
  const size_t frames = std::min<size_t>(done.frame_count, reference.size() / 2);
  EXPECT_GE(done.frames_ready + 1, done.frame_count);
  for (size_t i = 0; i < frames * 2; ++i)
    ASSERT_NEAR(peaks[i], reference[i], 1) << "frame " << i / 2 << (i % 2 ? " right" : " left");

  // BuildWaveColumns on the caller's thread, 6 s in a 30 s window of 400 columns.
  RecordingReader reader(*link_);
  ASSERT_EQ(reader.OpenRecordingReader(entry), 1);
  std::vector<uint8_t> columns(800);
  ASSERT_EQ(BuildWaveColumns(reader, columns.data(), 400, 0, 30000), 1);
  // Whole frames in 30 s, over 400 columns.
  const double per_column = static_cast<double>(c.rate * 30 / 1152) / 400;
  // Frames a column spans but whose peaks no read needed stay 0.
  const auto computed = reader.frame_peaks();
  size_t previous = 0, filled = 0;
  for (size_t i = 0; i < 400; ++i) {
    const auto f = static_cast<size_t>(i * per_column);
    if (f >= reader.frame_count() || f >= frames) break;
    for (int side = 0; side < 2; ++side) {
      uint8_t want = 0;
      for (size_t k = previous; k <= f; ++k)
        if (computed[k * 2 + side] != 0) want = std::max(want, reference[k * 2 + side]);
      ASSERT_NEAR(columns[i * 2 + side], want, 1) << "column " << i << " side " << side;
    }
    previous = f;
    ++filled;
  }
  EXPECT_GT(filled, 60u);
}

INSTANTIATE_TEST_SUITE_P(Streams, WaveReferenceTest,
                         ::testing::Values(Case{48000, 192, StreamMode::kStereo, false},
                                           Case{44100, 128, StreamMode::kJointStereo, true},
                                           Case{32000, 64, StreamMode::kSingleChannel, false}));

}  // namespace
}  // namespace lyr::test
