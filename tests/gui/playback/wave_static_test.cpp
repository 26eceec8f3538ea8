#include "gui/playback/wave_static.h"

#include <gtest/gtest.h>

#include <QTest>
#include <atomic>
#include <chrono>
#include <cmath>
#include <ctime>
#include <functional>

#include "emulator/audio_import.h"
#include "gui/common/task_queue.h"
#include "support/emulated_recorder.h"
#include "support/qt_env.h"

namespace {

using lyr::CWaveStatic;
using lyr_test::WaitFor;

// 48 kHz stereo PCM: a 440 Hz sine, the left channel at `left` of full
// scale, the right at `right`.
std::vector<uint8_t> Sine(double seconds, double left, double right) {
  const size_t n = static_cast<size_t>(seconds * 48000);
  std::vector<uint8_t> out(n * 4);
  for (size_t i = 0; i < n; ++i) {
    const double s = std::sin(2 * 3.14159265358979 * 440.0 * static_cast<double>(i) / 48000);
    const int16_t l = static_cast<int16_t>(std::lround(left * 32767 * s));
    const int16_t r = static_cast<int16_t>(std::lround(right * 32767 * s));
    out[4 * i] = static_cast<uint8_t>(l);
    out[4 * i + 1] = static_cast<uint8_t>(static_cast<uint16_t>(l) >> 8);
    out[4 * i + 2] = static_cast<uint8_t>(r);
    out[4 * i + 3] = static_cast<uint8_t>(static_cast<uint16_t>(r) >> 8);
  }
  return out;
}

// The largest absolute sample of a channel, worked out from the bytes.
int PeakOf(const std::vector<uint8_t>& pcm, int channel) {
  int peak = 0;
  for (size_t i = static_cast<size_t>(channel) * 2; i + 1 < pcm.size(); i += 4)
    peak = std::max(peak, std::abs(static_cast<int16_t>(pcm[i] | (pcm[i + 1] << 8))));
  return peak;
}

struct WaveFixture : ::testing::Test {
  lyr_test::EmulatedRecorder recorder;
  std::unique_ptr<lyr::RecorderLink> link;
  lyr::TaskQueue reaper;  // after the link: joins the builds before it goes
  std::unique_ptr<CWaveStatic> strip;

  uint32_t Add(const std::vector<uint8_t>& pcm) {
    std::tm date{};
    lyr_emu::ParseDateTime("2011-08-19T10:20:37", &date);
    return recorder.AddRecording(
        lyr_emu::MakeRecordingRecord(48000, 1536000, 16, 2, 0x70001, date, "LYR0001", ""), pcm);
  }
  void Make() {
    link = recorder.MakeLink();
    strip = std::make_unique<CWaveStatic>(*link, reaper);
    strip->resize(500, 120);
    strip->show();
    ASSERT_EQ(strip->Picture().width(), 500);
  }
  QColor At(int x, int y) const { return strip->Picture().pixelColor(x, y); }
};

TEST_F(WaveFixture, EnvelopeOfAKnownSineAndTheDrawing) {
  const std::vector<uint8_t> pcm = Sine(10, 0.5, 0.25);
  const uint32_t entry = Add(pcm);
  Make();
  strip->Load(entry);
  ASSERT_TRUE(WaitFor([&] { return !strip->Building(); }));
  // A redraw during the build may show only the first columns: wait for the
  // one after the end, which reaches the last column of sound.
  ASSERT_TRUE(WaitFor([&] { return strip->ColumnPeaks()[2 * 159] != 0; }));
  const int left = (PeakOf(pcm, 0) >> 7) + 1;
  const int right = (PeakOf(pcm, 1) >> 7) + 1;
  ASSERT_EQ(left, 129);  // 16,384 >> 7, plus 1
  ASSERT_EQ(right, 65);
  // 10 s of a 30 s window on 500 columns: 166 columns of sound, then nothing.
  const auto& cols = strip->ColumnPeaks();
  for (int x = 1; x < 160; ++x) {
    EXPECT_NEAR(cols[2 * x], left, 1) << x;
    EXPECT_NEAR(cols[2 * x + 1], right, 1) << x;
  }
  for (int x = 170; x < 500; ++x) EXPECT_EQ(cols[2 * x] | cols[2 * x + 1], 0) << x;

  // h = 50: the left reaches up to 50 − 129 × 50 / 256 + 20 = 45, the right
  // down to 50 + 65 × 50 / 256 + 20 = 82.
  const QColor blue(0, 0, 200), grey(128, 128, 128), red(200, 0, 0);
  EXPECT_EQ(At(100, 46), blue);
  EXPECT_EQ(At(100, 81), blue);
  EXPECT_EQ(At(100, 42), grey);
  EXPECT_EQ(At(100, 85), grey);
  EXPECT_EQ(At(0, 100), red);  // the cursor at the start
  EXPECT_EQ(At(300, 100), grey);
  // The middle line (2 pixels, black) where there is no sound.
  EXPECT_TRUE(At(300, 69) == QColor(Qt::black) || At(300, 71) == QColor(Qt::black));
  EXPECT_EQ(At(300, 20), QColor(Qt::black));  // under the scale
}

TEST_F(WaveFixture, CursorMovesThenThePictureScrolls) {
  const uint32_t entry = Add(Sine(40, 0.5, 0.5));
  Make();
  strip->Load(entry);
  // At 48 kHz a 30-second window covers 1,250 frames.
  strip->SetTime(10000);
  EXPECT_EQ(strip->CursorColumn(), 166);
  EXPECT_EQ(strip->WindowStart(), 0);
  strip->SetTime(14999);
  EXPECT_EQ(strip->CursorColumn(), 249);
  strip->SetTime(20000);  // past half the window: the cursor stays in the middle
  EXPECT_EQ(strip->CursorColumn(), 250);
  EXPECT_EQ(strip->WindowStart(), 5000);
  ASSERT_TRUE(WaitFor([&] { return !strip->Building(); }));
  QTest::qWait(CWaveStatic::kBuildRedrawMs + 100);  // the last redraw of the build
  strip->SetTime(21000);                            // 16 columns scroll in
  EXPECT_EQ(strip->CursorColumn(), 250);
  EXPECT_EQ(strip->WindowStart(), 6000);
  // Recording ends at 40 s: 6 s + 30 s window ends at 36 s, so all columns have sound;
  // at 40 s the window reaches 55 s and the right part is empty.
  strip->SetTime(40000);
  const auto& cols = strip->ColumnPeaks();
  EXPECT_NE(cols[2 * 100], 0);
  EXPECT_EQ(cols[2 * 499], 0);
}

TEST_F(WaveFixture, LoadReturnsAtOnceAndReleaseStopsTheBuild) {
  const uint32_t entry = Add(Sine(60, 0.5, 0.5));
  Make();
  strip->Load(entry);
  // The build goes on behind; the strip fills as it comes.
  ASSERT_TRUE(WaitFor([&] { return strip->FramesReady() > 0; }));
  strip->Release();
  EXPECT_FALSE(strip->Building());
  EXPECT_TRUE(strip->Picture().isNull());
  EXPECT_TRUE(strip->ColumnPeaks().empty());
  strip->SetTime(1000);  // nothing loaded: nothing happens
}

TEST_F(WaveFixture, RestartReleaseAndCloseDoNotWaitForAReadUnderWay) {
  const uint32_t longer = Add(Sine(20, 0.5, 0.5));
  const uint32_t shorter = Add(Sine(2, 0.25, 0.25));
  Make();
  // A build under way whose read is inside a reply the stand-in holds back.
  const auto held_build = [&] {
    recorder.config().slow_reply_ms = 20;
    strip->Load(longer);
    ASSERT_TRUE(WaitFor([&] { return strip->FramesReady() > 0; }));
    recorder.config().slow_reply_ms = 1000;
    QTest::qWait(100);
  };
  const auto returns_at_once = [](const std::function<void()>& call) {
    const auto start = std::chrono::steady_clock::now();
    call();
    return std::chrono::steady_clock::now() - start < std::chrono::milliseconds(300);
  };

  held_build();
  EXPECT_TRUE(returns_at_once([&] { strip->Load(shorter); }));
  recorder.config().slow_reply_ms = 0;
  // The new build comes through; the old one publishes nothing into it.
  ASSERT_TRUE(WaitFor([&] { return !strip->Building(); }));
  EXPECT_GT(strip->FramesReady(), 0u);
  EXPECT_LE(strip->FramesReady(), 2u * 48000 / 1152 + 1);

  held_build();
  EXPECT_TRUE(returns_at_once([&] { strip->Release(); }));
  recorder.config().slow_reply_ms = 0;

  // The strip goes while a read is held: the queue joins the build later.
  held_build();
  EXPECT_TRUE(returns_at_once([&] { strip.reset(); }));
  recorder.config().slow_reply_ms = 0;
  std::atomic<bool> reaped = false;
  reaper.Post([&] { reaped = true; });
  ASSERT_TRUE(WaitFor([&] { return reaped.load(); }));
  QTest::qWait(50);  // a progress notice still on its way finds no strip
}

}  // namespace
