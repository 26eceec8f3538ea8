#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "burn/sample_rate_converter.h"

using lyr::burn::ConversionBatchBytes;
using lyr::burn::ConverterKernel;
using lyr::burn::CSampleRateConverter;

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
