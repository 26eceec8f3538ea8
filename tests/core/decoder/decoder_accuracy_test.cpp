// Our Layer II decoder against libmpg123 (float output) on streams that
// libtwolame makes from signals that do not clip. Prints the RMS and the
// largest difference of every stream, in 16-bit steps.
#include <gtest/gtest.h>
#include <mpg123.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "core/playback/twolame_encoder.h"
#include "decoder/layer2_stream.h"
#include "decoder/synthesis.h"

namespace lyr {
namespace {

using test::EncoderSettings;
using test::StreamMode;

enum class Signal { kSweep, kNoise, kSpeech };
const char* SignalName(Signal s) {
  return s == Signal::kSweep ? "sweep" : s == Signal::kNoise ? "noise" : "speech";
}

constexpr double kPi = 3.14159265358979323846;
constexpr double kSeconds = 1.5;
// Peaks that leave room for the coding noise of low rates: no stream clips.
double PeakOf(Signal s) { return (s == Signal::kNoise ? 0.25 : 0.45) * 32767; }

std::vector<int16_t> MakeSignal(Signal signal, int rate, int channels, uint32_t seed) {
  const int n = static_cast<int>(kSeconds * rate);
  std::vector<double> out(static_cast<size_t>(n) * 2);
  std::mt19937 random(seed);
  std::uniform_real_distribution<double> uniform(-1.0, 1.0);
  const double top = 0.45 * rate;
  double phase[2] = {0, 0};
  for (int i = 0; i < n; ++i) {
    const double x = static_cast<double>(i) / n;
    for (int ch = 0; ch < 2; ++ch) {
      double v = 0;
      switch (signal) {
        case Signal::kSweep: {
          // Exponential sweeps, up on the left and down on the right.
          const double f = ch == 0 ? 40.0 * std::pow(top / 40.0, x) : top * std::pow(40.0 / top, x);
          phase[ch] += 2 * kPi * f / rate;
          v = std::sin(phase[ch]);
          break;
        }
        case Signal::kNoise:
          v = uniform(random);
          break;
        case Signal::kSpeech: {
          // Voiced bursts: 180 ms on, 90 ms off, a harmonic series under a
          // moving formant, with smooth attack and release.
          const double t = static_cast<double>(i) / rate;
          const double cycle = std::fmod(t, 0.27);
          if (cycle < 0.18) {
            const double envelope = std::sin(kPi * cycle / 0.18);
            const double f0 = 110 + 60 * ch + 40 * std::sin(2 * kPi * 3 * t);
            const double formant = 500 + 1500 * (0.5 + 0.5 * std::sin(2 * kPi * 2.1 * t));
            for (int h = 1; h <= 30 && h * f0 < 0.45 * rate; ++h) {
              const double d = (h * f0 - formant) / 600;
              v += std::exp(-d * d) * std::sin(2 * kPi * h * f0 * t + h) / std::sqrt(h);
            }
            v *= envelope;
          }
          break;
        }
      }
      out[static_cast<size_t>(i) * 2 + static_cast<size_t>(ch)] = v;
    }
  }
  double peak = 1e-9;
  for (double v : out) peak = std::max(peak, std::abs(v));
  std::vector<int16_t> pcm(static_cast<size_t>(n) * static_cast<size_t>(channels));
  for (int i = 0; i < n; ++i) {
    for (int ch = 0; ch < channels; ++ch) {
      const double v = out[static_cast<size_t>(i) * 2 + static_cast<size_t>(ch)] / peak * PeakOf(signal);
      pcm[static_cast<size_t>(i * channels + ch)] = static_cast<int16_t>(std::lround(v));
    }
  }
  return pcm;
}

std::vector<int16_t> DecodeOurs(const std::vector<uint8_t>& stream) {
  std::vector<int16_t> pcm;
  size_t offset = 0;
  DecodeLayer2Stream(
      [&](uint8_t* buffer, size_t capacity) {
        const size_t n = std::min(capacity, stream.size() - offset);
        std::memcpy(buffer, stream.data() + offset, n);
        offset += n;
        return n;
      },
      [&](const int16_t* samples, size_t bytes) { pcm.insert(pcm.end(), samples, samples + bytes / 2); });
  return pcm;
}

// Stereo float samples from libmpg123, scaled to 16-bit steps.
std::vector<double> DecodeReference(const std::vector<uint8_t>& stream) {
  std::vector<double> pcm;
  mpg123_handle* mh = mpg123_new(nullptr, nullptr);
  if (mh == nullptr) return pcm;
  mpg123_param(mh, MPG123_REMOVE_FLAGS, MPG123_GAPLESS, 0);
  mpg123_param(mh, MPG123_ADD_FLAGS, MPG123_FORCE_STEREO | MPG123_QUIET, 0);
  mpg123_format_none(mh);
  for (long rate : {8000L, 11025L, 12000L, 16000L, 22050L, 24000L, 32000L, 44100L, 48000L})
    mpg123_format(mh, rate, MPG123_STEREO, MPG123_ENC_FLOAT_32);
  if (mpg123_open_feed(mh) == MPG123_OK && mpg123_feed(mh, stream.data(), stream.size()) == MPG123_OK) {
    std::vector<unsigned char> out(65536);
    for (;;) {
      size_t done = 0;
      const int rc = mpg123_read(mh, out.data(), out.size(), &done);
      const float* f = reinterpret_cast<const float*>(out.data());
      for (size_t i = 0; i < done / sizeof(float); ++i) pcm.push_back(f[i] * 32768.0);
      if (rc != MPG123_OK && rc != MPG123_NEW_FORMAT) break;
    }
  }
  mpg123_delete(mh);
  return pcm;
}

struct Difference {
  long offset = 0;  // stereo samples by which the reference lags ours
  double rms = 0, max = 0;
  size_t compared = 0;
};

Difference Compare(const std::vector<int16_t>& ours, const std::vector<double>& ref) {
  // The two decoders should line up exactly; look a little either way.
  auto sum_at = [&](long offset, size_t from, size_t count, bool keep_max, double* max) {
    double sum = 0;
    size_t n = 0;
    for (size_t i = from; i < from + count; ++i) {
      const long j = static_cast<long>(i) + 2 * offset;
      if (j < 0 || static_cast<size_t>(j) >= ref.size() || i >= ours.size()) continue;
      const double d = ours[i] - ref[static_cast<size_t>(j)];
      sum += d * d;
      if (keep_max) *max = std::max(*max, std::abs(d));
      ++n;
    }
    return std::make_pair(sum, n);
  };
  Difference best;
  double best_sum = -1;
  for (long offset = -1152; offset <= 1152; ++offset) {
    const auto [sum, n] = sum_at(offset, ours.size() / 4, 8192, false, nullptr);
    if (n > 0 && (best_sum < 0 || sum < best_sum)) best_sum = sum, best.offset = offset;
  }
  const auto [sum, n] = sum_at(best.offset, 0, ours.size(), true, &best.max);
  best.compared = n;
  best.rms = n ? std::sqrt(sum / static_cast<double>(n)) : 1e9;
  return best;
}

struct StreamCase {
  int rate;
  StreamMode mode;
  int kbits;
  bool crc;
  Signal signal;
};

std::string CaseName(const StreamCase& c) {
  return std::to_string(c.rate) + "_" + test::ModeName(c.mode) + "_" + std::to_string(c.kbits) + "k_" +
         (c.crc ? "crc_" : "") + SignalName(c.signal);
}

std::vector<StreamCase> AllCases() {
  std::vector<StreamCase> cases;
  const StreamMode modes[] = {StreamMode::kStereo, StreamMode::kJointStereo, StreamMode::kDualChannel,
                              StreamMode::kSingleChannel};
  int n = 0;
  for (int rate : {32000, 44100, 48000, 16000, 22050, 24000}) {
    const bool low = rate < 32000;
    for (StreamMode mode : modes) {
      std::vector<int> rates;
      if (low) {
        rates =
            mode == StreamMode::kSingleChannel ? std::vector<int>{8, 32, 160} : std::vector<int>{32, 96, 160};
      } else {
        rates = mode == StreamMode::kSingleChannel ? std::vector<int>{32, 64, 96, 192}
                                                   : std::vector<int>{64, 128, 256, 384};
      }
      for (int kbits : rates) {
        cases.push_back({rate, mode, kbits, (n % 2) == 1, static_cast<Signal>(n % 3)});
        ++n;
      }
    }
  }
  return cases;
}

// Names of every synthesis kernel this processor runs, the reference first
// and the decoder's own choice last.
std::vector<const char*> Kernels() {
  decoder::SynthesisKernel kernels[8];
  const int count = std::min(decoder::AvailableSynthesisKernels(kernels, 8), 8);
  std::vector<const char*> names;
  for (int i = 0; i < count; ++i) names.push_back(kernels[i].name);
  return names;
}

class DecoderAccuracy : public ::testing::TestWithParam<StreamCase> {};

TEST_P(DecoderAccuracy, MatchesReferenceDecoder) {
  const StreamCase& c = GetParam();
  const int channels = c.mode == StreamMode::kSingleChannel ? 1 : 2;
  EncoderSettings settings{c.rate, c.mode, c.kbits, c.crc, c.rate == 44100 || c.rate == 22050};
  const std::vector<uint8_t> stream = test::EncodeLayer2(
      MakeSignal(c.signal, c.rate, channels, static_cast<uint32_t>(c.rate + c.kbits)), settings);
  ASSERT_FALSE(stream.empty()) << "twolame refused " << CaseName(c);

  const std::vector<double> ref = DecodeReference(stream);
  // Every synthesis kernel this processor runs: the same samples, each close
  // to the reference.
  std::vector<int16_t> first;
  for (const char* kernel : Kernels()) {
    ASSERT_TRUE(decoder::SelectSynthesisKernel(kernel)) << kernel;
    const std::vector<int16_t> ours = DecodeOurs(stream);
    ASSERT_GT(ours.size(), static_cast<size_t>(c.rate));
    ASSERT_EQ(ours.size(), ref.size()) << "the decoders disagree on the number of frames";
    const Difference d = Compare(ours, ref);
    std::printf("%-30s %-9s rms %.3f LSB  max %.3f LSB  offset %ld\n", CaseName(c).c_str(), kernel, d.rms,
                d.max, d.offset);
    EXPECT_EQ(d.offset, 0) << kernel;
    EXPECT_LE(d.rms, 0.5) << kernel;
    EXPECT_LE(d.max, 1.0) << kernel;
    if (first.empty())
      first = ours;
    else
      EXPECT_TRUE(ours == first) << kernel << " differs from " << Kernels().front();
  }
  decoder::SelectSynthesisKernel(Kernels().back());
}

INSTANTIATE_TEST_SUITE_P(Streams, DecoderAccuracy, ::testing::ValuesIn(AllCases()),
                         [](const ::testing::TestParamInfo<StreamCase>& info) {
                           return CaseName(info.param);
                         });

// Joint stereo at low rates, where the encoder moves the intensity bound
// from frame to frame: every bound must have occurred and decoded well.
TEST(DecoderAccuracyJointStereo, EveryBoundDecodes) {
  std::set<int> bounds;
  for (int rate : {32000, 44100, 48000, 24000}) {
    for (int kbits : rate < 32000 ? std::vector<int>{16, 32, 48} : std::vector<int>{64, 128, 192, 256}) {
      EncoderSettings settings{rate, StreamMode::kJointStereo, kbits, false, false};
      const std::vector<uint8_t> stream =
          test::EncodeLayer2(MakeSignal(Signal::kNoise, rate, 2, 7), settings);
      ASSERT_FALSE(stream.empty());
      for (size_t i = 0; i + 4 <= stream.size(); ++i) {
        if (stream[i] == 0xFF && (stream[i + 1] & 0xE6) == 0xE4 && (stream[i + 3] >> 6) == 1)
          bounds.insert((stream[i + 3] >> 4) & 3);
      }
      const Difference d = Compare(DecodeOurs(stream), DecodeReference(stream));
      std::printf("joint %5d Hz %3d kbit/s        rms %.3f LSB  max %.3f LSB\n", rate, kbits, d.rms, d.max);
      EXPECT_LE(d.rms, 0.5);
      EXPECT_LE(d.max, 1.0);
    }
  }
  std::printf("joint-stereo bounds seen:");
  for (int b : bounds) std::printf(" %d", 4 * (b + 1));
  std::printf("\n");
  EXPECT_EQ(bounds.size(), 4u);
}

}  // namespace
}  // namespace lyr
