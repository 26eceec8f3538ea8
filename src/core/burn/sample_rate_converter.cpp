#include "burn/sample_rate_converter.h"

#include <immintrin.h>
#include <soxr.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numeric>

namespace lyr::burn {
namespace {

constexpr double kPi = 3.14159265358979323846;

// Blackman window times sinc, centred at x = N / 2.
double WindowedSinc(double x, int order, double cutoff) {
  double w = x / order;
  w = std::clamp(w, 0.0, 1.0);
  if (std::fabs(w - 0.5) < 1e-9) return cutoff;
  const double window = 0.42 - 0.5 * std::cos(2 * kPi * w) + 0.08 * std::cos(4 * kPi * w);
  return window * std::sin(order * (w - 0.5) * cutoff * kPi) / ((w - 0.5) * order * kPi);
}

// floor() without the library call: the same value for the positions here.
inline double Floor(double x) {
  const double t = static_cast<double>(static_cast<int64_t>(x));
  return t > x ? t - 1 : t;
}

// A sum truncated toward zero to 16 bits; values beyond the range stay at its ends.
inline int16_t ToSample(float sum) {
  if (sum >= 32767.0f) return 32767;
  if (sum <= -32768.0f) return -32768;
  return static_cast<int16_t>(static_cast<int32_t>(sum));
}

struct Work {
  const float* coefficients;
  const float* left;
  const float* right;
  const int32_t* first;
  const int32_t* row;
  int taps;  // N + 1
  int16_t* out;
};

void SumsPortable(const Work& w, uint32_t from, uint32_t to) {
  for (uint32_t j = from; j < to; ++j) {
    const float* c = w.coefficients + w.row[j];
    const float* l = w.left + w.first[j];
    const float* r = w.right + w.first[j];
    float sum_left = 0.0f;
    float sum_right = 0.0f;
    for (int k = 0; k < w.taps; ++k) {
      sum_left += l[k] * c[k];
      sum_right += r[k] * c[k];
    }
    w.out[2 * j] = ToSample(sum_left);
    w.out[2 * j + 1] = ToSample(sum_right);
  }
}

// Eight output frames at once, one per lane; each lane adds its products in
// the same order as the portable loop (multiply, then add: no fused step), so
// the sums are the same to the last bit.
[[gnu::target("avx2")]] void SumsAvx2(const Work& w, uint32_t count) {
  const __m256 high = _mm256_set1_ps(32767.0f);
  const __m256 low = _mm256_set1_ps(-32768.0f);
  uint32_t j = 0;
  for (; j + 8 <= count; j += 8) {
    const __m256i first = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(w.first + j));
    const __m256i row = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(w.row + j));
    __m256 sum_left = _mm256_setzero_ps();
    __m256 sum_right = _mm256_setzero_ps();
    for (int k = 0; k < w.taps; ++k) {
      const __m256i kk = _mm256_set1_epi32(k);
      const __m256 c = _mm256_i32gather_ps(w.coefficients, _mm256_add_epi32(row, kk), 4);
      const __m256i at = _mm256_add_epi32(first, kk);
      const __m256 l = _mm256_i32gather_ps(w.left, at, 4);
      const __m256 r = _mm256_i32gather_ps(w.right, at, 4);
      sum_left = _mm256_add_ps(sum_left, _mm256_mul_ps(l, c));
      sum_right = _mm256_add_ps(sum_right, _mm256_mul_ps(r, c));
    }
    const __m256i left = _mm256_cvttps_epi32(_mm256_max_ps(_mm256_min_ps(sum_left, high), low));
    const __m256i right = _mm256_cvttps_epi32(_mm256_max_ps(_mm256_min_ps(sum_right, high), low));
    // Interleave: L0 R0 L1 R1 ... as 16-bit samples.
    const __m256i lo = _mm256_unpacklo_epi32(left, right);  // L0 R0 L1 R1 | L4 R4 L5 R5
    const __m256i hi = _mm256_unpackhi_epi32(left, right);  // L2 R2 L3 R3 | L6 R6 L7 R7
    const __m256i packed = _mm256_packs_epi32(lo, hi);      // L0 R0 L1 R1 L2 R2 L3 R3 | L4 ... R7
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(w.out + 2 * j), packed);
  }
  SumsPortable(w, j, count);
}

}  // namespace

bool ConverterKernelAvailable(ConverterKernel kernel) {
  if (kernel == ConverterKernel::Portable) return true;
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2");
}

bool CSampleRateConverter::SelectKernel(ConverterKernel kernel) {
  if (!ConverterKernelAvailable(kernel)) return false;
  kernel_ = kernel;
  return true;
}

void CSampleRateConverter::Setup(uint32_t input_rate, uint32_t output_rate) {
  input_rate_ = input_rate;
  output_rate_ = output_rate;
  ratio_ = static_cast<double>(input_rate) / output_rate;
  cutoff_ = static_cast<double>(output_rate) / input_rate;
  if (cutoff_ >= 1.0) cutoff_ = 1.0;
  phases_ = static_cast<int>(std::min<uint32_t>(input_rate / std::gcd(output_rate, input_rate), kMaxPhases));
  order_ = std::fabs(ratio_ - std::floor(ratio_ + 0.5)) < 0.0001 ? 32 : 31;

  const int rows = 2 * phases_ + 1;
  coefficients_.assign(static_cast<size_t>(rows) * kRowStride, 0.0f);
  for (int r = 0; r < rows; ++r) {
    const double d = static_cast<double>(r - phases_) / (2.0 * phases_);
    double c[kRowStride];
    double sum = 0;
    for (int k = 0; k <= order_; ++k) {
      c[k] = WindowedSinc(k - d, order_, cutoff_);
      sum += c[k];
    }
    for (int k = 0; k <= order_; ++k)
      coefficients_[static_cast<size_t>(r) * kRowStride + k] = static_cast<float>(c[k] / sum);
  }
  carry_ = 0.0;
  left_.assign(static_cast<size_t>(order_) + 1, 0.0f);
  right_.assign(static_cast<size_t>(order_) + 1, 0.0f);
  kernel_ =
      ConverterKernelAvailable(ConverterKernel::Avx2) ? ConverterKernel::Avx2 : ConverterKernel::Portable;
}

uint32_t CSampleRateConverter::Convert(int16_t* output, const int16_t* input, uint32_t available,
                                       uint32_t max_output, uint32_t* consumed) {
  const int history = order_ + 1;
  const int half = order_ / 2;
  const int ahead = order_ - half;  // input frames needed after the base frame
  const double odd = (order_ % 2 != 0) ? 0.5 : 0.0;

  first_.resize(max_output);
  row_.resize(max_output);
  const int last_row = 2 * phases_;
  uint32_t produced = 0;
  for (; produced < max_output; ++produced) {
    const double t = produced * ratio_ - carry_;
    const double base = Floor(t);
    if (static_cast<double>(available) <= base + ahead) break;
    const double d = t - base - odd;
    const int row = std::clamp(static_cast<int>(Floor(2 * phases_ * d + phases_ + 0.5)), 0, last_row);
    // Never reach before the history; the carry keeps this from happening.
    first_[produced] = std::max(static_cast<int>(base) - half + history, 0);
    row_[produced] = row * kRowStride;
  }

  // History, then as much of the new input as the frames produced and the
  // next history reach, as floats.
  const double next_base = Floor(produced * ratio_ - carry_);
  const uint32_t used =
      static_cast<uint32_t>(std::clamp(next_base + ahead, 0.0, static_cast<double>(available)));
  const uint32_t reach = std::min<uint32_t>(available, used + 1);
  left_.resize(static_cast<size_t>(history) + reach);
  right_.resize(static_cast<size_t>(history) + reach);
  for (uint32_t i = 0; i < reach; ++i) {
    left_[history + i] = input[2 * i];
    right_[history + i] = input[2 * i + 1];
  }

  const Work work{coefficients_.data(), left_.data(), right_.data(), first_.data(),
                  row_.data(),          order_ + 1,   output};
  if (kernel_ == ConverterKernel::Avx2)
    SumsAvx2(work, produced);
  else
    SumsPortable(work, 0, produced);

  carry_ = carry_ + used - produced * ratio_;
  // The N + 1 frames before the consumed point become the history.
  if (used > 0) {
    std::memmove(left_.data(), left_.data() + used, sizeof(float) * history);
    std::memmove(right_.data(), right_.data() + used, sizeof(float) * history);
  }
  left_.resize(history);
  right_.resize(history);
  if (consumed != nullptr) *consumed = used;
  return produced;
}

}  // namespace lyr::burn

namespace lyr::burn {

bool ParseCdConverter(std::string_view name, CdConverter* out) {
  if (name == "soxr") {
    *out = CdConverter::Soxr;
    return true;
  }
  if (name == "sinc") {
    *out = CdConverter::WindowedSinc;
    return true;
  }
  return false;
}

SoxrConverter::~SoxrConverter() { soxr_delete(static_cast<soxr_t>(soxr_)); }

bool SoxrConverter::Setup(uint32_t input_rate, uint32_t output_rate) {
  soxr_delete(static_cast<soxr_t>(soxr_));
  soxr_ = nullptr;
  if (input_rate == 0 || output_rate == 0) return false;
  ratio_ = static_cast<double>(output_rate) / input_rate;
  soxr_io_spec_t io = soxr_io_spec(SOXR_INT16_I, SOXR_INT16_I);
  io.flags |= SOXR_NO_DITHER;
  const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, SOXR_LINEAR_PHASE);
  const soxr_runtime_spec_t runtime = soxr_runtime_spec(1);
  soxr_error_t error = nullptr;
  soxr_ = soxr_create(input_rate, output_rate, 2, &error, &io, &quality, &runtime);
  return error == nullptr && soxr_ != nullptr;
}

void SoxrConverter::Push(const int16_t* input, size_t frames, std::vector<int16_t>& out) {
  auto* s = static_cast<soxr_t>(soxr_);
  if (s == nullptr) return;
  while (frames > 0) {
    const size_t room = static_cast<size_t>(static_cast<double>(frames) * ratio_) + 64;
    const size_t old = out.size();
    out.resize(old + 2 * room);
    size_t used = 0, made = 0;
    soxr_process(s, input, frames, &used, out.data() + old, room, &made);
    out.resize(old + 2 * made);
    input += 2 * used;
    frames -= used;
    if (used == 0 && made == 0) break;
  }
}

void SoxrConverter::Finish(std::vector<int16_t>& out) {
  auto* s = static_cast<soxr_t>(soxr_);
  if (s == nullptr) return;
  constexpr size_t kRoom = 4096;
  for (;;) {
    const size_t old = out.size();
    out.resize(old + 2 * kRoom);
    size_t made = 0;
    soxr_process(s, nullptr, 0, nullptr, out.data() + old, kRoom, &made);
    out.resize(old + 2 * made);
    if (made == 0) break;
  }
}

}  // namespace lyr::burn
