#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <random>
#include <vector>

#include "burn/sample_rate_converter.h"

using lyr::burn::ConversionBatchBytes;
using lyr::burn::ConverterKernel;
using lyr::burn::CSampleRateConverter;
using lyr::burn::SoxrConverter;

namespace {

std::vector<int16_t> Noise(size_t frames, uint32_t seed) {
  std::mt19937 rng(seed);
  std::uniform_int_distribution<int> dist(-32768, 32767);
  std::vector<int16_t> v(frames * 2);
  for (auto& s : v) s = static_cast<int16_t>(dist(rng));
  return v;
}

// Converts `in` in pieces of the given sizes (cycled), keeping what each call
// did not consume, as the audio CD job does.
std::vector<int16_t> ConvertInPieces(CSampleRateConverter& c, const std::vector<int16_t>& in,
                                     const std::vector<uint32_t>& pieces, uint32_t max_out) {
  std::vector<int16_t> out, buffer(2 * max_out);
  std::vector<int16_t> pending;
  size_t next = 0;
  for (size_t p = 0; next < in.size() / 2; ++p) {
    const uint32_t take =
        std::min<uint32_t>(pieces[p % pieces.size()], static_cast<uint32_t>(in.size() / 2 - next));
    pending.insert(pending.end(), in.begin() + 2 * next, in.begin() + 2 * (next + take));
    next += take;
    for (;;) {
      uint32_t consumed = 0;
      const uint32_t made = c.Convert(buffer.data(), pending.data(),
                                      static_cast<uint32_t>(pending.size() / 2), max_out, &consumed);
      out.insert(out.end(), buffer.begin(), buffer.begin() + 2 * made);
      pending.erase(pending.begin(), pending.begin() + 2 * consumed);
      if (made < max_out) break;
    }
  }
  return out;
}

// Converts a whole stream with libsoxr in pieces of the given sizes (cycled).
std::vector<int16_t> SoxrInPieces(uint32_t rate, const std::vector<int16_t>& in,
                                  const std::vector<size_t>& pieces) {
  SoxrConverter c;
  EXPECT_TRUE(c.Setup(rate, 44100));
  std::vector<int16_t> out;
  size_t next = 0;
  for (size_t p = 0; next < in.size() / 2; ++p) {
    const size_t take = std::min(pieces[p % pieces.size()], in.size() / 2 - next);
    c.Push(in.data() + 2 * next, take, out);
    next += take;
  }
  c.Finish(out);
  return out;
}

// Peak level (dB) of the strongest component of the left channel between
// `low_hz` and `high_hz`: 32,768 frames from `from`, Blackman-Harris window.
double StrongestComponent(const std::vector<int16_t>& stereo, size_t from, double rate, double low_hz,
                          double high_hz) {
  constexpr size_t kN = 32768;
  std::vector<std::complex<double>> x(kN);
  for (size_t i = 0; i < kN; ++i) {
    const double a = 2 * M_PI * static_cast<double>(i) / kN;
    const double w = 0.35875 - 0.48829 * std::cos(a) + 0.14128 * std::cos(2 * a) - 0.01168 * std::cos(3 * a);
    x[i] = w * stereo[2 * (from + i)];
  }
  for (size_t i = 1, j = 0; i < kN; ++i) {  // bit-reversed order, then radix-2 butterflies
    size_t bit = kN >> 1;
    for (; (j & bit) != 0; bit >>= 1) j ^= bit;
    j ^= bit;
    if (i < j) std::swap(x[i], x[j]);
  }
  for (size_t len = 2; len <= kN; len <<= 1) {
    const std::complex<double> step = std::polar(1.0, -2 * M_PI / static_cast<double>(len));
    for (size_t i = 0; i < kN; i += len) {
      std::complex<double> w = 1;
      for (size_t k = 0; k < len / 2; ++k, w *= step) {
        const auto u = x[i + k], v = x[i + k + len / 2] * w;
        x[i + k] = u + v;
        x[i + k + len / 2] = u - v;
      }
    }
  }
  double peak = 1e-30;
  for (size_t k = static_cast<size_t>(low_hz * kN / rate); k <= static_cast<size_t>(high_hz * kN / rate); ++k)
    peak = std::max(peak, std::abs(x[k]));
  return 20 * std::log10(peak);
}

}  // namespace

TEST(SampleRateConverter, SetUpGivesPhasesTapsBatchAndNormalisedRows) {
  const struct {
    uint32_t rate;
    int phases;
    int order;
    uint32_t batch;
  } cases[] = {
      {48000, 160, 31, 4108}, {32000, 320, 31, 6224}, {88200, 2, 32, 2180},
      {22050, 1, 31, 9092},   {96000, 320, 31, 1992}, {16000, 160, 31, 12576},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.rate);
    CSampleRateConverter conv;
    conv.Setup(c.rate, 44100);
    EXPECT_EQ(conv.Phases(), c.phases);
    EXPECT_EQ(conv.Order(), c.order);
    EXPECT_EQ(ConversionBatchBytes(c.rate), c.batch);
    EXPECT_DOUBLE_EQ(conv.Cutoff(), std::min(1.0, 44100.0 / c.rate));
    EXPECT_EQ(conv.Carry(), 0.0);
    for (int r = 0; r <= 2 * conv.Phases(); ++r) {
      double sum = 0;
      for (int k = 0; k <= conv.Order(); ++k) sum += conv.Row(r)[k];
      ASSERT_NEAR(sum, 1.0, 1e-5) << "row " << r;
    }
    // The middle row sits on a tap for an even order and halfway between two
    // taps for an odd one: either way it is symmetric.
    const float* mid = conv.Row(conv.Phases());
    for (int k = 0; k <= conv.Order(); ++k) EXPECT_NEAR(mid[k], mid[conv.Order() - k], 1e-6) << k;
  }
}

TEST(SampleRateConverter, RowsFollowTheWindowedSinc) {
  // Row r of a 48 kHz set-up, tap k: Blackman window times sinc at x = k - d,
  // d = (r - P) / 2P, normalised per row.
  CSampleRateConverter conv;
  conv.Setup(48000, 44100);
  const int n = 31, p = 160;
  const double cutoff = 44100.0 / 48000;
  for (int r : {0, 37, 160, 319, 320}) {
    const double d = (r - p) / (2.0 * p);
    double c[32], sum = 0;
    for (int k = 0; k <= n; ++k) {
      const double w = std::clamp((k - d) / n, 0.0, 1.0);
      const double a = (w - 0.5) * n * M_PI;
      const double sinc = std::fabs(w - 0.5) < 1e-9 ? cutoff : std::sin(a * cutoff) / a;
      c[k] = (0.42 - 0.5 * std::cos(2 * M_PI * w) + 0.08 * std::cos(4 * M_PI * w)) * sinc;
      sum += c[k];
    }
    for (int k = 0; k <= n; ++k) EXPECT_NEAR(conv.Row(r)[k], c[k] / sum, 1e-7) << r << "," << k;
  }
}

TEST(SampleRateConverter, VectorAndPortableLoopsGiveTheSameSamples) {
  if (!lyr::burn::ConverterKernelAvailable(ConverterKernel::Avx2)) GTEST_SKIP() << "no AVX2";
  const auto in = Noise(20000, 7);
  for (uint32_t rate : {48000u, 32000u, 88200u, 22050u}) {
    SCOPED_TRACE(rate);
    CSampleRateConverter a, b;
    a.Setup(rate, 44100);
    b.Setup(rate, 44100);
    ASSERT_TRUE(a.SelectKernel(ConverterKernel::Portable));
    ASSERT_TRUE(b.SelectKernel(ConverterKernel::Avx2));
    EXPECT_EQ(ConvertInPieces(a, in, {1152, 300, 4000}, 1027),
              ConvertInPieces(b, in, {1152, 300, 4000}, 1027));
  }
}

TEST(SampleRateConverter, PiecesOfAnySizeGiveTheWholeStream) {
  // The carry and the history join the pieces: one big call and many small
  // ones of odd sizes give the same frames.
  const auto in = Noise(30000, 3);
  for (uint32_t rate : {48000u, 32000u, 88200u}) {
    SCOPED_TRACE(rate);
    CSampleRateConverter whole, pieces;
    whole.Setup(rate, 44100);
    pieces.Setup(rate, 44100);
    const auto a = ConvertInPieces(whole, in, {30000}, 60000);
    const auto b = ConvertInPieces(pieces, in, {1, 17, 1152, 33, 2000}, 97);
    ASSERT_EQ(a.size(), b.size());
    EXPECT_EQ(a, b);
    // All but the last N / 2 input frames reach the output.
    const double expected = (30000.0 - 16) * 44100 / rate;
    EXPECT_NEAR(static_cast<double>(a.size() / 2), expected, 2.0);
  }
}

TEST(SampleRateConverter, FullScaleOvershootSaturatesInsteadOfWrapping) {
  // A full-scale square wave rings beyond the 16-bit range. The same wave at
  // half scale, doubled, tells where: there the samples stay at the range's
  // ends instead of wrapping round to the other sign.
  std::vector<int16_t> full, half;
  for (int i = 0; i < 4800; ++i) {
    const bool up = (i / 24) % 2 != 0;
    full.insert(full.end(), 2, static_cast<int16_t>(up ? 32766 : -32766));
    half.insert(half.end(), 2, static_cast<int16_t>(up ? 16383 : -16383));
  }
  CSampleRateConverter a, b;
  a.Setup(48000, 44100);
  b.Setup(48000, 44100);
  const auto out_full = ConvertInPieces(a, full, {4800}, 8000);
  const auto out_half = ConvertInPieces(b, half, {4800}, 8000);
  ASSERT_EQ(out_full.size(), out_half.size());
  int beyond = 0;
  for (size_t i = 0; i < out_full.size(); ++i) {
    const int doubled = 2 * out_half[i];
    if (doubled > 32767 + 100 || doubled < -32768 - 100) ++beyond;
    ASSERT_NEAR(out_full[i], std::clamp(doubled, -32768, 32767), 4) << i;
  }
  EXPECT_GT(beyond, 100);
}

// A 23 kHz tone in a 48 kHz recording lies above the CD's 22.05 kHz limit:
// whatever of it reaches the output is aliasing, which the windowed sinc
// folds back to 21.1 kHz. The default converter must keep all of it, in
// 0-20 kHz and up to the limit, 90 dB below the tone.
TEST(SoxrConverter, TonesAboveTheCdLimitDoNotFoldBack) {
  std::vector<int16_t> tone;
  for (size_t i = 0; i < 48000; ++i) {
    const auto s = static_cast<int16_t>(std::lround(16384 * std::sin(2 * M_PI * 23000 * i / 48000.0)));
    tone.insert(tone.end(), {s, s});
  }
  const double in = StrongestComponent(tone, 4096, 48000, 22500, 23500);
  const auto soxr = SoxrInPieces(48000, tone, {4608});
  CSampleRateConverter sinc;
  sinc.Setup(48000, 44100);
  const auto windowed = ConvertInPieces(sinc, tone, {4608}, 4108);
  const struct {
    const char* name;
    const std::vector<int16_t>& out;
    double high_hz;
    double below, above;  // the aliasing's bounds relative to the tone, dB
  } cases[] = {
      {"soxr 0-20 kHz", soxr, 20000, -90, -300},
      {"soxr 0-22.05 kHz", soxr, 22050, -90, -300},
      {"windowed sinc 0-22.05 kHz", windowed, 22050, -10, -20},
  };
  for (const auto& c : cases) {
    const double alias = StrongestComponent(c.out, 4096, 44100, 0, c.high_hz) - in;
    std::printf("%s: aliasing %.1f dB\n", c.name, alias);
    EXPECT_LT(alias, c.below) << c.name;
    EXPECT_GT(alias, c.above) << c.name;
  }
}

// The stream does not depend on the pieces it comes in, starts without the
// filter's delay and ends with every frame the input implies.
TEST(SoxrConverter, PiecesLengthAndAlignment) {
  const auto in = Noise(30011, 7);
  for (uint32_t rate : {48000u, 32000u, 96000u, 22050u}) {
    const auto whole = SoxrInPieces(rate, in, {in.size()});
    const auto pieces = SoxrInPieces(rate, in, {1, 1152, 333, 4096});
    EXPECT_EQ(pieces, whole) << rate;
    EXPECT_NEAR(static_cast<double>(whole.size() / 2), 30011.0 * 44100 / rate, 1.0) << rate;
  }
  // A slow sine lands on the same instants at 44.1 kHz: no delay.
  std::vector<int16_t> sine;
  for (size_t i = 0; i < 48000; ++i) {
    const auto s = static_cast<int16_t>(std::lround(12000 * std::sin(2 * M_PI * 440 * i / 48000.0)));
    sine.insert(sine.end(), {s, static_cast<int16_t>(-s)});
  }
  const auto out = SoxrInPieces(48000, sine, {4608});
  double err = 0;
  for (size_t j = 500; j + 500 < out.size() / 2; ++j)
    err = std::max(err, std::fabs(out[2 * j] - 12000 * std::sin(2 * M_PI * 440 * j / 44100.0)));
  EXPECT_LT(err, 2.0);
}
