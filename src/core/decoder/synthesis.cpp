#include "decoder/synthesis.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>

#include "decoder/decoder_tables.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define LYR_DECODER_X86 1
#endif

namespace lyr::decoder {
namespace {

// Bounds that keep every intermediate value inside 32 bits (checked by the
// decoder tests): a requantized subband sample stays below 1.15 * 2^24 in
// magnitude; the matrixing's largest intermediate is at most 51 times its
// largest input (< 2^30) and its outputs at most 32 times (< 1.15 * 2^29); the
// 16 window coefficients of one output sum to less than 2.75 in magnitude, so
// a windowed sum stays below 3.2 * 2^29 < 2^31 - 128.

// ---- Matrixing: a 32-point DCT-II, X[m] = sum_k cos((2k+1) m pi / 64) S[k],
// by recursive halving (even outputs from the folded sums, odd outputs from
// the scaled differences), run on all blocks of a frame side by side.

using Row = int32_t[kBlocksPerFrame];

[[gnu::always_inline]] inline int32_t ScaleDifference(int32_t difference, int32_t factor) {
  const int64_t product = int64_t{difference} * factor + (int64_t{1} << (kDctFactorBits - 1));
  // The result fits in 32 bits, so the low bits of a logical shift are exact.
  return static_cast<int32_t>(static_cast<uint64_t>(product) >> kDctFactorBits);
}

template <int N>
[[gnu::always_inline]] inline void Dct(const Row* x, Row* out, int out_stride, const int32_t* factors) {
  const int32_t* f = factors + N / 2 - 1;
  if constexpr (N == 2) {
    for (int t = 0; t < kBlocksPerFrame; ++t) {
      const int32_t a = x[0][t], b = x[1][t];
      out[0][t] = a + b;
      out[out_stride][t] = ScaleDifference(a - b, f[0]);
    }
  } else {
    Row sums[N / 2], differences[N / 2], odd[N / 2];
    for (int k = 0; k < N / 2; ++k) {
      for (int t = 0; t < kBlocksPerFrame; ++t) {
        const int32_t a = x[k][t], b = x[N - 1 - k][t];
        sums[k][t] = a + b;
        differences[k][t] = ScaleDifference(a - b, f[k]);
      }
    }
    Dct<N / 2>(sums, out, 2 * out_stride, factors);
    Dct<N / 2>(differences, odd, 1, factors);
    for (int m = 0; m < N / 2 - 1; ++m) {
      for (int t = 0; t < kBlocksPerFrame; ++t) out[(2 * m + 1) * out_stride][t] = odd[m][t] + odd[m + 1][t];
    }
    std::memcpy(out[(N - 1) * out_stride], odd[N / 2 - 1], sizeof(Row));
  }
}

[[gnu::always_inline]] inline void MatrixBody(const SubbandSamples& in, Row* out) {
  Dct<32>(in.value, out, 1, GetDecoderTables().dct_factors);
}

void MatrixReference(const SubbandSamples& in, Row* out) { MatrixBody(in, out); }

void TransposeReference(const Row* in, int32_t (*out)[kSubbands]) {
  for (int t = 0; t < kBlocksPerFrame; ++t) {
    for (int m = 0; m < kSubbands; ++m) out[t][m] = in[m][t];
  }
}

// ---- Windowing.

[[gnu::always_inline]] inline int16_t Clip(int32_t sum) {
  const int32_t v = (sum + 128) >> 8;
  return static_cast<int16_t>(std::clamp(v, -32768, 32767));
}

void WindowReference(const int32_t* block, const int32_t* window, int16_t* out) {
  for (int j = 0; j < kSubbands; ++j) {
    int32_t sum = 0;
    for (int age = 0; age < 16; ++age) {
      const int32_t value = block[-kBlockValues * age + (age & 1) * 32 + j];
      sum += static_cast<int32_t>((int64_t{window[32 * age + j]} * value) >> 16);
    }
    out[j] = Clip(sum);
  }
}

#ifdef LYR_DECODER_X86

[[gnu::target("avx2")]] void MatrixAvx2(const SubbandSamples& in, Row* out) { MatrixBody(in, out); }

// 8 x 8 tiles through registers; the last four blocks one by one.
[[gnu::target("avx2")]] void TransposeAvx2(const Row* in, int32_t (*out)[kSubbands]) {
  for (int m0 = 0; m0 < kSubbands; m0 += 8) {
    for (int t0 = 0; t0 + 8 <= kBlocksPerFrame; t0 += 8) {
      __m256i r[8];
      for (int i = 0; i < 8; ++i)
        r[i] = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(&in[m0 + i][t0]));
      __m256i a[8], b[8];
      for (int i = 0; i < 8; i += 2) {
        a[i] = _mm256_unpacklo_epi32(r[i], r[i + 1]);
        a[i + 1] = _mm256_unpackhi_epi32(r[i], r[i + 1]);
      }
      for (int i = 0; i < 8; i += 4) {
        b[i] = _mm256_unpacklo_epi64(a[i], a[i + 2]);
        b[i + 1] = _mm256_unpackhi_epi64(a[i], a[i + 2]);
        b[i + 2] = _mm256_unpacklo_epi64(a[i + 1], a[i + 3]);
        b[i + 3] = _mm256_unpackhi_epi64(a[i + 1], a[i + 3]);
      }
      for (int i = 0; i < 4; ++i) {
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(&out[t0 + i][m0]),
                            _mm256_permute2x128_si256(b[i], b[i + 4], 0x20));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(&out[t0 + 4 + i][m0]),
                            _mm256_permute2x128_si256(b[i], b[i + 4], 0x31));
      }
    }
  }
  for (int t = kBlocksPerFrame / 8 * 8; t < kBlocksPerFrame; ++t) {
    for (int m = 0; m < kSubbands; ++m) out[t][m] = in[m][t];
  }
}

// Eight outputs at a time. _mm256_mul_epi32 multiplies the even 32-bit lanes
// into 64-bit products; loading one element later puts the odd lanes there.
// Each product shifted right by 16 fits in 32 bits, so its bits 16..47 are the
// exact result; the blend gathers them back into eight 32-bit lanes.
[[gnu::target("avx2")]] void WindowAvx2(const int32_t* block, const int32_t* window, int16_t* out) {
  for (int j = 0; j < kSubbands; j += 16) {
    __m256i sum0 = _mm256_setzero_si256(), sum1 = _mm256_setzero_si256();
    for (int age = 0; age < 16; ++age) {
      const int32_t* v = block - kBlockValues * age + (age & 1) * 32 + j;
      const int32_t* w = window + 32 * age + j;
      for (int half = 0; half < 2; ++half) {
        const int32_t* vh = v + 8 * half;
        const int32_t* wh = w + 8 * half;
        const __m256i even = _mm256_mul_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(vh)),
                                              _mm256_loadu_si256(reinterpret_cast<const __m256i*>(wh)));
        const __m256i odd = _mm256_mul_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(vh + 1)),
                                             _mm256_loadu_si256(reinterpret_cast<const __m256i*>(wh + 1)));
        const __m256i terms =
            _mm256_blend_epi32(_mm256_srli_epi64(even, 16), _mm256_slli_epi64(odd, 16), 0xAA);
        if (half == 0) {
          sum0 = _mm256_add_epi32(sum0, terms);
        } else {
          sum1 = _mm256_add_epi32(sum1, terms);
        }
      }
    }
    const __m256i rounding = _mm256_set1_epi32(128);
    sum0 = _mm256_srai_epi32(_mm256_add_epi32(sum0, rounding), 8);
    sum1 = _mm256_srai_epi32(_mm256_add_epi32(sum1, rounding), 8);
    // Saturating pack clips to the 16-bit range; it works per 128-bit lane.
    const __m256i packed = _mm256_permute4x64_epi64(_mm256_packs_epi32(sum0, sum1), 0xD8);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + j), packed);
  }
}

// GCC 12 takes the intrinsics' deliberately undefined registers for
// uninitialized variables.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
#if !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

[[gnu::target("avx512f,avx512bw,avx512vl,avx512dq")]] void MatrixAvx512(const SubbandSamples& in, Row* out) {
  MatrixBody(in, out);
}

[[gnu::target("avx512f,avx512bw")]] void WindowAvx512(const int32_t* block, const int32_t* window,
                                                      int16_t* out) {
  __m512i sum0 = _mm512_setzero_si512(), sum1 = _mm512_setzero_si512();
  for (int age = 0; age < 16; ++age) {
    const int32_t* v = block - kBlockValues * age + (age & 1) * 32;
    const int32_t* w = window + 32 * age;
    for (int half = 0; half < 2; ++half) {
      const int32_t* vh = v + 16 * half;
      const int32_t* wh = w + 16 * half;
      const __m512i even = _mm512_mul_epi32(_mm512_loadu_si512(vh), _mm512_loadu_si512(wh));
      const __m512i odd = _mm512_mul_epi32(_mm512_loadu_si512(vh + 1), _mm512_loadu_si512(wh + 1));
      const __m512i terms =
          _mm512_mask_blend_epi32(0xAAAA, _mm512_srli_epi64(even, 16), _mm512_slli_epi64(odd, 16));
      if (half == 0) {
        sum0 = _mm512_add_epi32(sum0, terms);
      } else {
        sum1 = _mm512_add_epi32(sum1, terms);
      }
    }
  }
  const __m512i rounding = _mm512_set1_epi32(128);
  sum0 = _mm512_srai_epi32(_mm512_add_epi32(sum0, rounding), 8);
  sum1 = _mm512_srai_epi32(_mm512_add_epi32(sum1, rounding), 8);
  const __m512i packed =
      _mm512_permutexvar_epi64(_mm512_setr_epi64(0, 2, 4, 6, 1, 3, 5, 7), _mm512_packs_epi32(sum0, sum1));
  _mm512_storeu_si512(out, packed);
}

#pragma GCC diagnostic pop

#endif  // LYR_DECODER_X86

int ListKernels(SynthesisKernel* out, int capacity) {
  int count = 0;
  auto add = [&](const char* name, WindowKernel window, MatrixKernel matrix, TransposeKernel transpose) {
    if (count < capacity) out[count] = {name, window, matrix, transpose};
    ++count;
  };
  add("reference", WindowReference, MatrixReference, TransposeReference);
#ifdef LYR_DECODER_X86
  __builtin_cpu_init();
  if (__builtin_cpu_supports("avx2")) add("avx2", WindowAvx2, MatrixAvx2, TransposeAvx2);
  if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
      __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx512dq")) {
    add("avx512", WindowAvx512, MatrixAvx512, TransposeAvx2);
  }
#endif
  return count;
}

struct KernelList {
  SynthesisKernel kernels[4];
  int count = 0;
  KernelList() { count = std::min(ListKernels(kernels, 4), 4); }
  const SynthesisKernel* Find(const char* name) const {
    for (int i = 0; i < count; ++i)
      if (name != nullptr && std::strcmp(kernels[i].name, name) == 0) return &kernels[i];
    return nullptr;
  }
};

const KernelList& Kernels() {
  static const KernelList list;
  return list;
}

// The fastest kernel, or the one LYR_DECODER_KERNEL names (when this
// processor runs it), until SelectSynthesisKernel picks another.
std::atomic<const SynthesisKernel*>& Selected() {
  static std::atomic<const SynthesisKernel*> selected = [] {
    const KernelList& list = Kernels();
    const SynthesisKernel* named = list.Find(std::getenv("LYR_DECODER_KERNEL"));
    return named != nullptr ? named : &list.kernels[list.count - 1];
  }();
  return selected;
}

const SynthesisKernel& ChosenKernel() { return *Selected().load(std::memory_order_relaxed); }

// The 64 values kept per block from its 32 matrixed values X: the first 32
// are X[16..31], 0, -X[31..17]; the last 32 are -X[16..0], -X[1..15].
[[gnu::always_inline]] inline void ExpandBlock(const int32_t* x, int32_t* v) {
  for (int j = 0; j < 16; ++j) v[j] = x[16 + j];
  v[16] = 0;
  for (int j = 17; j < 32; ++j) v[j] = -x[48 - j];
  for (int j = 0; j <= 16; ++j) v[32 + j] = -x[16 - j];
  for (int j = 17; j < 32; ++j) v[32 + j] = -x[j - 16];
}

}  // namespace

int AvailableSynthesisKernels(SynthesisKernel* out, int capacity) { return ListKernels(out, capacity); }

bool SelectSynthesisKernel(const char* name) {
  const SynthesisKernel* kernel = Kernels().Find(name);
  if (kernel == nullptr) return false;
  Selected().store(kernel, std::memory_order_relaxed);
  return true;
}

const char* SelectedSynthesisKernel() { return ChosenKernel().name; }

void SynthesizeFrame(const SubbandSamples* samples, int channels, SynthesisHistory* history, int16_t* out) {
  const DecoderTables& tables = GetDecoderTables();
  const SynthesisKernel& kernel = ChosenKernel();

  for (int ch = 0; ch < channels; ++ch) {
    alignas(64) Row matrixed[kSubbands];
    alignas(64) int32_t blocks[kBlocksPerFrame][kSubbands];
    kernel.matrix(samples[ch], matrixed);
    kernel.transpose(matrixed, blocks);
    int32_t* first = history[ch].value + kHistoryBlocks * kBlockValues;
    for (int t = 0; t < kBlocksPerFrame; ++t) ExpandBlock(blocks[t], first + t * kBlockValues);
  }

  alignas(64) int16_t pcm[2][kSubbands];
  const int right = channels - 1;
  for (int t = 0; t < kBlocksPerFrame; ++t) {
    for (int ch = 0; ch < channels; ++ch) {
      kernel.window(history[ch].value + (kHistoryBlocks + t) * kBlockValues, tables.window, pcm[ch]);
    }
    int16_t* o = out + t * kSubbands * 2;
    for (int j = 0; j < kSubbands; ++j) {
      o[2 * j] = pcm[0][j];
      o[2 * j + 1] = pcm[right][j];
    }
  }

  for (int ch = 0; ch < channels; ++ch) {
    std::memmove(history[ch].value, history[ch].value + kBlocksPerFrame * kBlockValues,
                 sizeof(int32_t) * kHistoryBlocks * kBlockValues);
  }
}

}  // namespace lyr::decoder
