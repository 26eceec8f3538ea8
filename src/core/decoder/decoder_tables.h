#pragma once
#include <cstdint>

namespace lyr::decoder {

// Fixed point: 1.0 = 1 << kFractionBits.
constexpr int kFractionBits = 23;

// Quantization classes of Layer II: levels, bits per sample (or per group of
// three for the grouped classes).
constexpr int kQuantClassCount = 17;
struct QuantClass {
  uint32_t levels;
  uint8_t bits;
  bool grouped;
};
extern const QuantClass kQuantClasses[kQuantClassCount];

// One Layer II bit-allocation table: per subband the allocation field width
// and the quantization class of each allocation value (allocation 0 = none).
struct AllocationTable {
  int sblimit;
  uint8_t nbal[32];
  int8_t quant_class[32][16];  // -1 where the allocation value means "none"
};
enum AllocationTableId { kTableA = 0, kTableB, kTableC, kTableD, kTableLowRate, kAllocationTableCount };

// A requantized sample is ((numerator * mult) + round) >> shift, where
// numerator = 2 * code - (levels - 1); one entry per class and scale-factor index.
struct Requantizer {
  int32_t mult;
  int32_t shift;
  int64_t round;
};

// The synthesis window of the filterbank: 512 integer coefficients, 1.0 = 65536.
// Padded so that vector kernels may read one element past the end.
constexpr int kWindowLength = 512;
constexpr int kWindowPadded = 528;

// Shared, read-only tables built once per process.
struct DecoderTables {
  AllocationTable allocation[kAllocationTableCount];
  // Three numerators per grouped code word, for the 3-, 5- and 9-level classes.
  int16_t group3[32][3];
  int16_t group5[128][3];
  int16_t group9[1024][3];
  Requantizer requant[kQuantClassCount][64];
  alignas(64) int32_t window[kWindowPadded];
  // 1 / (2 cos((2k + 1) pi / 2N)) for N = 32, 16, 8, 4, 2 at index N / 2 + k - 1.
  int32_t dct_factors[31];
};
constexpr int kDctFactorBits = 27;

// Builds the tables on the first call (thread-safe) and returns them.
const DecoderTables& GetDecoderTables();

}  // namespace lyr::decoder
