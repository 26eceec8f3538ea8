#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "decoder/audio_decoder.h"
#include "decoder/decoder_tables.h"
#include "decoder/layer2_stream.h"
#include "decoder/synthesis.h"
#include "core/playback/twolame_encoder.h"

namespace lyr {
namespace {

using test::EncoderSettings;
using test::StreamMode;

using DecoderPtr = std::unique_ptr<AudioDecoder, void (*)(AudioDecoder*)>;
DecoderPtr NewDecoder() { return DecoderPtr(AudioDecoderCreate(), AudioDecoderDestroy); }

constexpr double kPi = 3.14159265358979323846;

std::vector<int16_t> Tone(int rate, int channels, double seconds, double amplitude) {
  const int n = static_cast<int>(seconds * rate);
  std::vector<int16_t> pcm(static_cast<size_t>(n * channels));
  for (int i = 0; i < n; ++i) {
    for (int ch = 0; ch < channels; ++ch) {
      const double f = 440.0 * (ch + 1);
      pcm[static_cast<size_t>(i * channels + ch)] =
          static_cast<int16_t>(std::lround(amplitude * 32767 * std::sin(2 * kPi * f * i / rate)));
    }
  }
  return pcm;
}

// The frames of a stream, split at the lengths the decoder consumes.
std::vector<std::vector<uint8_t>> Frames(const std::vector<uint8_t>& stream) {
  std::vector<std::vector<uint8_t>> frames;
  DecoderPtr d = NewDecoder();
  std::vector<int16_t> pcm(kAudioDecoderFrameOutputBytes / 2);
  size_t at = 0;
  while (at < stream.size()) {
    size_t produced = 0;
    const size_t used = AudioDecoderDecode(d.get(), stream.data() + at, stream.size() - at, pcm.data(), &produced);
    if (used == 0) break;
    frames.emplace_back(stream.begin() + static_cast<long>(at), stream.begin() + static_cast<long>(at + used));
    at += used;
  }
  return frames;
}

std::vector<uint8_t> Encode(int rate, StreamMode mode, int kbits, const std::vector<int16_t>& pcm) {
  std::vector<uint8_t> stream = test::EncodeLayer2(pcm, EncoderSettings{rate, mode, kbits, false, false});
  EXPECT_FALSE(stream.empty());
  return stream;
}

TEST(AudioDecoder, SingleChannelFrameFillsBothChannels) {
  const auto frames = Frames(Encode(48000, StreamMode::kSingleChannel, 96, Tone(48000, 1, 0.2, 0.5)));
  ASSERT_GE(frames.size(), 5u);
  DecoderPtr d = NewDecoder();
  std::vector<int16_t> pcm(kAudioDecoderFrameOutputBytes / 2);
  bool heard = false;
  for (const auto& frame : frames) {
    size_t produced = 0;
    ASSERT_EQ(AudioDecoderDecode(d.get(), frame.data(), frame.size(), pcm.data(), &produced), frame.size());
    ASSERT_EQ(produced, 4608u);
    for (size_t i = 0; i < pcm.size(); i += 2) ASSERT_EQ(pcm[i], pcm[i + 1]) << "sample " << i / 2;
    heard = heard || *std::max_element(pcm.begin(), pcm.end()) > 10000;
  }
  EXPECT_TRUE(heard);
}

TEST(AudioDecoder, LowerSamplingFrequencyFrameDecodes) {
  const auto frames = Frames(Encode(24000, StreamMode::kJointStereo, 64, Tone(24000, 2, 0.3, 0.5)));
  ASSERT_GE(frames.size(), 5u);
  EXPECT_EQ(frames[1].size(), 144u * 64000 / 24000);
}

TEST(AudioDecoder, RefusesWhatItCannotDecode) {
  const auto frames = Frames(Encode(48000, StreamMode::kStereo, 192, Tone(48000, 2, 0.1, 0.3)));
  ASSERT_FALSE(frames.empty());
  const std::vector<uint8_t>& good = frames[0];
  ASSERT_EQ(good.size(), 576u);
  struct Change {
    const char* what;
    int byte;
    uint8_t mask, value;
  };
  const Change changes[] = {
      {"sample-rate index 3", 2, 0x0C, 0x0C}, {"free format", 2, 0xF0, 0x00},
      {"bit-rate index 15", 2, 0xF0, 0xF0},   {"Layer III", 1, 0x06, 0x02},
      {"Layer I", 1, 0x06, 0x06},             {"reserved layer", 1, 0x06, 0x00},
      {"reserved version", 1, 0x18, 0x08},    {"no sync", 1, 0xE0, 0xC0},
  };
  DecoderPtr d = NewDecoder();
  std::vector<int16_t> pcm(kAudioDecoderFrameOutputBytes / 2);
  for (const Change& c : changes) {
    std::vector<uint8_t> frame = good;
    frame[static_cast<size_t>(c.byte)] = static_cast<uint8_t>((frame[static_cast<size_t>(c.byte)] & ~c.mask) | c.value);
    size_t produced = 99;
    EXPECT_EQ(AudioDecoderDecode(d.get(), frame.data(), frame.size(), pcm.data(), &produced), 0u) << c.what;
    EXPECT_EQ(produced, 0u) << c.what;
  }
  // Only the first part of a frame: nothing consumed; the whole frame decodes.
  size_t produced = 99;
  EXPECT_EQ(AudioDecoderDecode(d.get(), good.data(), good.size() - 1, pcm.data(), &produced), 0u);
  EXPECT_EQ(produced, 0u);
  EXPECT_EQ(AudioDecoderDecode(d.get(), good.data(), 3, pcm.data(), &produced), 0u);
  EXPECT_EQ(AudioDecoderDecode(d.get(), good.data(), good.size(), pcm.data(), &produced), 576u);
  EXPECT_EQ(produced, 4608u);
}

TEST(AudioDecoder, FullScaleSquareWaveClipsWithoutWrapping) {
  const int rate = 48000;
  std::vector<int16_t> pcm(static_cast<size_t>(rate / 2) * 2);
  for (size_t i = 0; i < pcm.size(); ++i) pcm[i] = ((i / 2) / 240) % 2 ? -32768 : 32767;  // 100 Hz
  const std::vector<uint8_t> stream = Encode(rate, StreamMode::kStereo, 384, pcm);
  std::vector<int16_t> out;
  DecodeLayer2Stream(
      [&, at = size_t{0}](uint8_t* buffer, size_t capacity) mutable {
        const size_t n = std::min(capacity, stream.size() - at);
        std::memcpy(buffer, stream.data() + at, n);
        at += n;
        return n;
      },
      [&](const int16_t* s, size_t bytes) { out.insert(out.end(), s, s + bytes / 2); });
  ASSERT_GT(out.size(), pcm.size() / 2);
  EXPECT_EQ(*std::max_element(out.begin(), out.end()), 32767);
  EXPECT_EQ(*std::min_element(out.begin(), out.end()), -32768);
  // A wrapped sample would have the wrong sign inside a half period. Find
  // the coding delay (modulo the period) first, then look away from the edges.
  auto input_sign = [&](long i) { return ((i / 240) % 2) ? -1 : 1; };
  long delay = 0, best = -1;
  for (long d = 0; d < 2000; ++d) {
    long agree = 0;
    for (long i = 4000; i < 8000; ++i) agree += (out[static_cast<size_t>(2 * i)] > 0 ? 1 : -1) == input_sign(i - d);
    if (agree > best) best = agree, delay = d;
  }
  for (long i = 2000; 2 * i < static_cast<long>(out.size()); ++i) {  // past the start-up silence
    const long phase = (i - delay) % 240;
    if (phase < 30 || phase > 210) continue;
    for (int ch = 0; ch < 2; ++ch) {
      const int16_t v = out[static_cast<size_t>(2 * i + ch)];
      ASSERT_EQ(v > 0 ? 1 : -1, input_sign(i - delay)) << "sample " << i << " channel " << ch << ": " << v;
    }
  }
}

TEST(AudioDecoder, CorruptFramesStayInsideTheirBuffers) {
  std::vector<std::vector<uint8_t>> valid;
  for (const auto& s : {Encode(48000, StreamMode::kStereo, 384, Tone(48000, 2, 0.1, 0.5)),
                        Encode(44100, StreamMode::kJointStereo, 64, Tone(44100, 2, 0.1, 0.5)),
                        Encode(32000, StreamMode::kSingleChannel, 32, Tone(32000, 1, 0.1, 0.5)),
                        Encode(16000, StreamMode::kDualChannel, 160, Tone(16000, 2, 0.2, 0.5))}) {
    const auto frames = Frames(s);
    ASSERT_GE(frames.size(), 2u);
    valid.push_back(frames[1]);
  }
  // A frame whose every field asks for the most bits reads far past its end.
  std::vector<uint8_t> greedy(96, 0xFF);
  greedy[0] = 0xFF, greedy[1] = 0xFD, greedy[2] = 0x14, greedy[3] = 0x00;  // 32 kbit/s, 48 kHz
  valid.push_back(greedy);

  std::mt19937 random(1234);
  DecoderPtr d = NewDecoder();
  std::vector<int16_t> pcm(kAudioDecoderFrameOutputBytes / 2 + 16, 0x5555);
  for (int round = 0; round < 400; ++round) {
    std::vector<uint8_t> frame = valid[static_cast<size_t>(round) % valid.size()];
    for (size_t i = 4; i < frame.size(); ++i) {
      if (round % 3 == 0 || random() % 8 == 0) frame[i] = static_cast<uint8_t>(random());
    }
    // Exact-size heap copy so that any read past the frame is caught.
    std::unique_ptr<uint8_t[]> input(new uint8_t[frame.size()]);
    std::memcpy(input.get(), frame.data(), frame.size());
    size_t produced = 0;
    ASSERT_EQ(AudioDecoderDecode(d.get(), input.get(), frame.size(), pcm.data(), &produced), frame.size());
    ASSERT_EQ(produced, 4608u);
    for (size_t i = pcm.size() - 16; i < pcm.size(); ++i) ASSERT_EQ(pcm[i], 0x5555) << "wrote past the output";
  }
}

TEST(AudioDecoder, StreamDecodeSkipsWhatIsNotAFrame) {
  const std::vector<uint8_t> clean = Encode(48000, StreamMode::kJointStereo, 128, Tone(48000, 2, 0.5, 0.4));
  const auto frames = Frames(clean);
  ASSERT_GE(frames.size(), 10u);
  auto decode = [](const std::vector<uint8_t>& stream) {
    std::vector<int16_t> out;
    size_t at = 0;
    const Layer2StreamResult r = DecodeLayer2Stream(
        [&](uint8_t* buffer, size_t capacity) {
          const size_t n = std::min<size_t>({capacity, stream.size() - at, 1000});  // short reads too
          std::memcpy(buffer, stream.data() + at, n);
          at += n;
          return n;
        },
        [&](const int16_t* s, size_t bytes) { out.insert(out.end(), s, s + bytes / 2); });
    return std::make_pair(r, out);
  };
  const auto [clean_result, clean_pcm] = decode(clean);
  EXPECT_EQ(clean_result.frames, frames.size());
  EXPECT_EQ(clean_result.sample_rate, 48000u);

  // Junk before the first frame and between frames (with a stray sync word),
  // a frame of another sample rate, and a cut-off frame at the end.
  const auto other_rate = Frames(Encode(32000, StreamMode::kJointStereo, 128, Tone(32000, 2, 0.1, 0.4)));
  std::vector<uint8_t> dirty = {0x00, 0xFF, 0x12, 0xFF, 0xFB};
  for (size_t i = 0; i < frames.size(); ++i) {
    dirty.insert(dirty.end(), frames[i].begin(), frames[i].end());
    if (i == 3) dirty.insert(dirty.end(), {0xFF, 0xFF, 0x00, 0x13});
    if (i == 6) dirty.insert(dirty.end(), other_rate[1].begin(), other_rate[1].end());
  }
  dirty.insert(dirty.end(), frames[2].begin(), frames[2].begin() + 100);
  const auto [dirty_result, dirty_pcm] = decode(dirty);
  EXPECT_EQ(dirty_result.frames, frames.size());
  EXPECT_EQ(dirty_result.skipped_bytes, 5u + 4u + other_rate[1].size() + 100u);
  EXPECT_EQ(dirty_pcm, clean_pcm);
}

// The bounds that let the synthesis keep its sums in 32 bits.
TEST(DecoderTables, SamplesAndWindowStayWithinTheirBounds) {
  const decoder::DecoderTables& t = decoder::GetDecoderTables();
  int64_t largest = 0;
  for (int c = 0; c < decoder::kQuantClassCount; ++c) {
    const decoder::QuantClass& q = decoder::kQuantClasses[c];
    // Ungrouped classes can carry the all-ones code, one step past full scale.
    const int64_t numerator = q.grouped ? q.levels - 1 : q.levels + 1;
    for (const decoder::Requantizer& r : t.requant[c]) {
      largest = std::max(largest, (numerator * r.mult + r.round) >> r.shift);
    }
  }
  EXPECT_LT(largest, static_cast<int64_t>(1.15 * (1 << 24)));
  for (int j = 0; j < 32; ++j) {
    int64_t sum = 0;
    for (int age = 0; age < 16; ++age) sum += std::abs(t.window[32 * age + j]);
    EXPECT_LT(sum, 11 * 65536 / 4) << "output " << j;
  }
}

// Each vector kernel gives exactly the reference's output, on random values
// and on values at the bounds. A kernel this processor cannot run is skipped,
// and says so.
class SynthesisKernels : public ::testing::TestWithParam<const char*> {};

TEST_P(SynthesisKernels, AgreeWithTheReference) {
  decoder::SynthesisKernel kernels[8];
  const int available = std::min(decoder::AvailableSynthesisKernels(kernels, 8), 8);
  ASSERT_GE(available, 1);
  ASSERT_STREQ(kernels[0].name, "reference");
  const decoder::SynthesisKernel* tested = nullptr;
  for (int k = 1; k < available; ++k) {
    if (std::strcmp(kernels[k].name, GetParam()) == 0) tested = &kernels[k];
  }
  if (tested == nullptr) GTEST_SKIP() << "no " << GetParam() << " kernel on this processor";
  const decoder::DecoderTables& t = decoder::GetDecoderTables();
  constexpr int32_t kSampleBound = static_cast<int32_t>(1.15 * (1 << 24));
  constexpr int32_t kValueBound = static_cast<int32_t>(1.15 * (1 << 29));
  std::mt19937 random(99);

  for (int round = 0; round < 200; ++round) {
    auto pick = [&](int32_t bound) {
      switch (round % 4) {
        case 0:
          return static_cast<int32_t>(random() % (2u * static_cast<uint32_t>(bound) + 1)) - bound;
        case 1:
          return random() % 2 ? bound : -bound;
        case 2:
          return static_cast<int32_t>(random() % 2001) - 1000;
        default:
          return static_cast<int32_t>(random() % 3) * bound - bound;
      }
    };
    decoder::SubbandSamples samples;
    for (auto& row : samples.value)
      for (int32_t& v : row) v = pick(kSampleBound);
    int32_t expected_matrix[32][decoder::kBlocksPerFrame];
    kernels[0].matrix(samples, expected_matrix);
    int32_t expected_blocks[decoder::kBlocksPerFrame][32];
    kernels[0].transpose(expected_matrix, expected_blocks);

    std::vector<int32_t> history(17 * 64);
    for (int32_t& v : history) v = pick(kValueBound);
    const int32_t* block = history.data() + 15 * 64;
    int16_t expected_pcm[32];
    kernels[0].window(block, t.window, expected_pcm);

    int32_t matrix[32][decoder::kBlocksPerFrame];
    tested->matrix(samples, matrix);
    ASSERT_EQ(std::memcmp(matrix, expected_matrix, sizeof matrix), 0) << "round " << round;
    int32_t blocks[decoder::kBlocksPerFrame][32];
    tested->transpose(matrix, blocks);
    ASSERT_EQ(std::memcmp(blocks, expected_blocks, sizeof blocks), 0) << "round " << round;
    int16_t pcm[32];
    tested->window(block, t.window, pcm);
    ASSERT_EQ(std::memcmp(pcm, expected_pcm, sizeof pcm), 0) << "round " << round;
  }
}

INSTANTIATE_TEST_SUITE_P(Vector, SynthesisKernels, ::testing::Values("avx2", "avx512"),
                         [](const ::testing::TestParamInfo<const char*>& info) { return info.param; });

}  // namespace
}  // namespace lyr
