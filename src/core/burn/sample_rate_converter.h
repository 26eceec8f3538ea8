#pragma once
// Stereo 16-bit sample-rate converter of the audio CD job: a polyphase
// Blackman-windowed sinc. Each output frame is a weighted sum of N + 1 input
// frames; the weights come from one of 2P + 1 precomputed rows, picked by the
// fractional position of the output frame between two input frames. The
// fractional position and the last N + 1 input frames carry over from one
// call to the next, so a stream can be converted in pieces of any size.
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace lyr::burn {

// Which converter the audio CD job uses for rates other than 44,100 Hz: the
// high-quality one (libsoxr, as clean as `sox rate`) by default, or the
// short windowed sinc below, kept for tracks that must match older discs.
enum class CdConverter { Soxr, WindowedSinc };
// "soxr" or "sinc"; false for anything else.
bool ParseCdConverter(std::string_view name, CdConverter* out);

// How the inner sums run: portable code, or eight output frames at once with
// AVX2. Both add the same products in the same order and give the same
// samples; the fastest one this processor runs is picked at set-up.
enum class ConverterKernel { Portable, Avx2 };
bool ConverterKernelAvailable(ConverterKernel kernel);

class CSampleRateConverter {
 public:
  static constexpr int kMaxPhases = 320;
  static constexpr int kRowStride = 33;  // floats from one coefficient row to the next

  // Computes the coefficient table and clears the carry and the history.
  void Setup(uint32_t input_rate, uint32_t output_rate);

  // Converts `available` interleaved stereo input frames into at most
  // `max_output` frames at `output`; `consumed` tells how many input frames
  // were used up (the caller keeps the rest for the next call). Returns the
  // frames produced.
  uint32_t Convert(int16_t* output, const int16_t* input, uint32_t available, uint32_t max_output,
                   uint32_t* consumed);

  // Picks the inner loop (tests, benchmarks); false when the processor lacks it.
  bool SelectKernel(ConverterKernel kernel);
  ConverterKernel Kernel() const { return kernel_; }

  uint32_t InputRate() const { return input_rate_; }
  uint32_t OutputRate() const { return output_rate_; }
  double Ratio() const { return ratio_; }
  double Cutoff() const { return cutoff_; }
  int Phases() const { return phases_; }
  int Order() const { return order_; }  // N: each output frame uses N + 1 input frames
  double Carry() const { return carry_; }
  // Row r (0 ... 2P) of the coefficient table, N + 1 floats.
  const float* Row(int r) const { return coefficients_.data() + static_cast<size_t>(r) * kRowStride; }

 private:
  uint32_t input_rate_ = 0;
  uint32_t output_rate_ = 0;
  double ratio_ = 1.0;
  double cutoff_ = 1.0;
  int phases_ = 1;
  int order_ = 31;
  double carry_ = 0.0;
  ConverterKernel kernel_ = ConverterKernel::Portable;
  std::vector<float> coefficients_;
  // Planar working copy: the history (N + 1 frames) followed by the input.
  std::vector<float> left_;
  std::vector<float> right_;
  // Per output frame of one call: first input frame (index into left_) and
  // coefficient row offset.
  std::vector<int32_t> first_;
  std::vector<int32_t> row_;
};

// Stereo 16-bit converter over libsoxr at its high quality (20-bit
// precision, linear phase, no delay left in the output), rounding to 16 bits
// without dither. The output is a continuous stream: the pieces the input
// comes in do not change it.
class SoxrConverter {
 public:
  SoxrConverter() = default;
  SoxrConverter(const SoxrConverter&) = delete;
  SoxrConverter& operator=(const SoxrConverter&) = delete;
  ~SoxrConverter();

  // Starts a new stream; false when libsoxr refuses the rates.
  bool Setup(uint32_t input_rate, uint32_t output_rate);
  // Converts all `frames` interleaved stereo frames, appending the frames
  // ready so far to `out`.
  void Push(const int16_t* input, size_t frames, std::vector<int16_t>& out);
  // Ends the stream: appends the frames still held back by the filter.
  void Finish(std::vector<int16_t>& out);

 private:
  void* soxr_ = nullptr;
  double ratio_ = 1.0;
};

}  // namespace lyr::burn

namespace lyr::burn {
// Bytes of 44,100 Hz output the audio CD job converts per batch of 4,608
// decoded bytes: 4608 x 44100 / rate, less 124, rounded down to whole frames.
inline uint32_t ConversionBatchBytes(uint32_t sample_rate) {
  const auto bytes = static_cast<uint32_t>(4608.0 * 44100 / sample_rate) - 124;
  return bytes / 4 * 4;
}
}  // namespace lyr::burn
