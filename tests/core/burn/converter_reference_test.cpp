// The converter against SoX's very-high-quality resampler on a sine and a
// sweep. Both filters are linear phase with no delay, so the outputs line up
// frame for frame; the difference left is the converter's short (32-tap)
// Blackman filter: its passband droop near the top of the band and its
// aliasing.
#include <gtest/gtest.h>
#include <unistd.h>

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

std::vector<int16_t> Sox(uint32_t rate, const std::vector<int16_t>& in, const lyr_test::TempDir& dir) {
  const std::string src = (dir / "in.raw").string(), dst = (dir / "out.raw").string();
  std::ofstream(src, std::ios::binary).write(reinterpret_cast<const char*>(in.data()), in.size() * 2);
  const std::string fmt = " -t raw -e signed -b 16 -c 2 ";
  const std::string cmd =
      "sox -D" + fmt + "-r " + std::to_string(rate) + " " + src + fmt + "-r 44100 " + dst + " rate -v 44100";
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

}  // namespace

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
