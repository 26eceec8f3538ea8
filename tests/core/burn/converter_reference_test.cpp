// The converter against SoX's very-high-quality resampler on a sine and a
// sweep. Both filters are linear phase with no delay, so the outputs line up
// frame for frame; the difference left is the converter's short (32-tap)
// Blackman filter: its passband droop near the top of the band and its
// aliasing.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "burn/sample_rate_converter.h"
#include "support/temp_dir.h"

namespace {

std::vector<int16_t> Signal(uint32_t rate, double seconds, bool sweep, double top_hz) {
  const size_t n = static_cast<size_t>(rate * seconds);
  std::vector<int16_t> v;
  double phase = 0;
  for (size_t i = 0; i < n; ++i) {
    const double t = static_cast<double>(i) / rate;
    // Exponential sweep from 20 Hz to top_hz, or a steady 1 kHz.
    const double hz = sweep ? 20 * std::pow(top_hz / 20, t / seconds) : 1000;
    phase += 2 * M_PI * hz / rate;
    const auto s = static_cast<int16_t>(std::lround(16000 * std::sin(phase)));
    v.insert(v.end(), {s, static_cast<int16_t>(-s)});
  }
  return v;
}

std::vector<int16_t> Ours(uint32_t rate, const std::vector<int16_t>& in) {
  lyr::burn::CSampleRateConverter c;
  c.Setup(rate, 44100);
  std::vector<int16_t> out(in.size() * 2);
  uint32_t used = 0;
  const uint32_t made = c.Convert(out.data(), in.data(), static_cast<uint32_t>(in.size() / 2),
                                  static_cast<uint32_t>(out.size() / 2), &used);
  out.resize(made * 2);
  return out;
}

std::vector<int16_t> Soxr(uint32_t rate, const std::vector<int16_t>& in) {
  lyr::burn::SoxrConverter c;
  c.Setup(rate, 44100);
  std::vector<int16_t> out;
  c.Push(in.data(), in.size() / 2, out);
  c.Finish(out);
  return out;
}

// `quality` is sox's rate option: "-v" (very high) or "" (its default).
std::vector<int16_t> Sox(uint32_t rate, const std::vector<int16_t>& in, const lyr_test::TempDir& dir,
                         const std::string& quality = "-v") {
  const std::string src = (dir / "in.raw").string(), dst = (dir / "out.raw").string();
  std::ofstream(src, std::ios::binary).write(reinterpret_cast<const char*>(in.data()), in.size() * 2);
  const std::string fmt = " -t raw -e signed -b 16 -c 2 ";
  const std::string cmd = "sox -D" + fmt + "-r " + std::to_string(rate) + " " + src + fmt + "-r 44100 " +
                          dst + " rate " + quality + " 44100";
  if (std::system(cmd.c_str()) != 0) return {};
  std::ifstream f(dst, std::ios::binary);
  std::vector<char> bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  std::vector<int16_t> out(bytes.size() / 2);
  std::memcpy(out.data(), bytes.data(), out.size() * 2);
  return out;
}

struct Difference {
  double db;  // RMS of the difference relative to the signal's RMS
  int peak;   // largest difference, in 16-bit steps
};

Difference Compare(const std::vector<int16_t>& a, const std::vector<int16_t>& b) {
  const size_t n = std::min(a.size(), b.size());
  double diff = 0, signal = 0;
  int peak = 0;
  for (size_t i = 400; i + 400 < n; ++i) {
    const double d = a[i] - b[i];
    diff += d * d;
    signal += static_cast<double>(b[i]) * b[i];
    peak = std::max(peak, static_cast<int>(std::fabs(d)));
  }
  return {10 * std::log10(diff / signal), peak};
}

// THD+N of the left channel, dB: what is left after the best-fitting sine of
// `hz` (with its offset) is taken away, against that sine; ends left out.
double ThdPlusNoise(const std::vector<int16_t>& stereo, double rate, double hz) {
  double ss = 0, sc = 0, cc = 0, ys = 0, yc = 0, y1 = 0, s1 = 0, c1 = 0, n = 0;
  const size_t from = 2000, to = stereo.size() / 2 - 2000;
  for (size_t i = from; i < to; ++i) {
    const double s = std::sin(2 * M_PI * hz * i / rate), c = std::cos(2 * M_PI * hz * i / rate),
                 y = stereo[2 * i];
    ss += s * s, sc += s * c, cc += c * c, ys += y * s, yc += y * c, y1 += y, s1 += s, c1 += c, n += 1;
  }
  // Normal equations of y = a sin + b cos + d (3 x 3, by Cramer's rule).
  const double m[3][3] = {{ss, sc, s1}, {sc, cc, c1}, {s1, c1, n}};
  const double v[3] = {ys, yc, y1};
  auto det = [](const double a[3][3]) {
    return a[0][0] * (a[1][1] * a[2][2] - a[1][2] * a[2][1]) -
           a[0][1] * (a[1][0] * a[2][2] - a[1][2] * a[2][0]) +
           a[0][2] * (a[1][0] * a[2][1] - a[1][1] * a[2][0]);
  };
  double x[3];
  for (int k = 0; k < 3; ++k) {
    double mk[3][3];
    for (int r = 0; r < 3; ++r)
      for (int col = 0; col < 3; ++col) mk[r][col] = col == k ? v[r] : m[r][col];
    x[k] = det(mk) / det(m);
  }
  double residual = 0, signal = 0;
  for (size_t i = from; i < to; ++i) {
    const double fit = x[0] * std::sin(2 * M_PI * hz * i / rate) + x[1] * std::cos(2 * M_PI * hz * i / rate);
    residual += (stereo[2 * i] - fit - x[2]) * (stereo[2 * i] - fit - x[2]);
    signal += fit * fit;
  }
  return 10 * std::log10(residual / signal);
}

}  // namespace

// The audio CD job's default converter is as clean as `sox rate` at its
// default quality (no dither on either side): THD+N of a 1 kHz tone at
// -6 dBFS within 3 dB, and close to sox's very high quality on a sweep.
TEST(SoxrAgainstSox, AsCleanAsSoxRate) {
  if (std::system("sox --version >/dev/null 2>&1") != 0) GTEST_SKIP() << "sox not installed";
  lyr_test::TempDir dir;
  for (uint32_t rate : {48000u, 32000u, 96000u}) {
    std::vector<int16_t> tone;
    for (size_t i = 0; i < rate * 2; ++i) {
      const auto s = static_cast<int16_t>(std::lround(16384 * std::sin(2 * M_PI * 1000 * i / rate)));
      tone.insert(tone.end(), {s, s});
    }
    const double ours = ThdPlusNoise(Soxr(rate, tone), 44100, 1000);
    const double sox = ThdPlusNoise(Sox(rate, tone, dir, ""), 44100, 1000);
    std::printf("%u Hz, 1 kHz at -6 dBFS: THD+N %.1f dB, sox rate %.1f dB\n", rate, ours, sox);
    EXPECT_LT(ours, sox + 3) << rate;

    const double top = std::min(20000.0, 0.45 * rate);  // below the input's own limit
    const auto sweep = Signal(rate, 3.0, true, top);
    const Difference d = Compare(Soxr(rate, sweep), Sox(rate, sweep, dir));
    std::printf("%u Hz sweep to %.0f Hz: difference from sox -v %.1f dB, peak %d\n", rate, top, d.db, d.peak);
    EXPECT_LT(d.db, -70) << rate;
  }
}

TEST(ConverterAgainstSox, SineAndSweepAgree) {
  if (std::system("sox --version >/dev/null 2>&1") != 0) GTEST_SKIP() << "sox not installed";
  lyr_test::TempDir dir;
  const struct {
    uint32_t rate;
    bool sweep;
    double top_hz;
    double max_db;
    int max_peak;
  } cases[] = {
      {48000, false, 0, -70, 8},     {32000, false, 0, -70, 8},     {88200, false, 0, -70, 8},
      {48000, true, 10000, -60, 64}, {32000, true, 10000, -60, 64}, {48000, true, 20000, -45, 2000},
  };
  for (const auto& c : cases) {
    const auto in = Signal(c.rate, 3.0, c.sweep, c.top_hz);
    const auto ours = Ours(c.rate, in);
    const auto sox = Sox(c.rate, in, dir);
    ASSERT_FALSE(sox.empty());
    EXPECT_NEAR(static_cast<double>(ours.size()), static_cast<double>(sox.size()),
                2 * 32.0);  // the last N / 2 input frames wait for more input
    const Difference d = Compare(ours, sox);
    std::printf("%u Hz %s%s: difference %.1f dB, peak %d\n", c.rate, c.sweep ? "sweep to " : "1 kHz sine",
                c.sweep ? std::to_string(static_cast<int>(c.top_hz)).c_str() : "", d.db, d.peak);
    EXPECT_LT(d.db, c.max_db) << c.rate;
    EXPECT_LE(d.peak, c.max_peak) << c.rate;
  }
}
