#include "decoder/decoder_tables.h"

#include <cmath>
#include <initializer_list>
#include <mutex>

namespace lyr::decoder {

const QuantClass kQuantClasses[kQuantClassCount] = {
    {3, 5, true},     {5, 7, true},     {7, 3, false},    {9, 10, true},    {15, 4, false},  {31, 5, false},
    {63, 6, false},   {127, 7, false},  {255, 8, false},  {511, 9, false},  {1023, 10, false},
    {2047, 11, false}, {4095, 12, false}, {8191, 13, false}, {16383, 14, false}, {32767, 15, false},
    {65535, 16, false},
};

namespace {

// Rows of the allocation tables: a run of subbands sharing one allocation
// field width and one list of classes (indexes into kQuantClasses).
struct AllocationRow {
  int subbands;
  int nbal;
  std::initializer_list<int> classes;
};

// Classes of the high-rate tables (11172-3 B.2a and B.2b).
const std::initializer_list<int> kHighRow0 = {0, 2, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
const std::initializer_list<int> kHighRow1 = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 16};
const std::initializer_list<int> kHighRow2 = {0, 1, 2, 3, 4, 5, 16};
const std::initializer_list<int> kHighRow3 = {0, 1, 16};
// Low-rate tables (11172-3 B.2c and B.2d).
const std::initializer_list<int> kLowRow0 = {0, 1, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
const std::initializer_list<int> kLowRow1 = {0, 1, 3, 4, 5, 6, 7};
// Lower sampling frequencies (13818-3 B.1).
const std::initializer_list<int> kLsfRow0 = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14};
const std::initializer_list<int> kLsfRow1 = {0, 1, 3, 4, 5, 6, 7};
const std::initializer_list<int> kLsfRow2 = {0, 1, 3};

AllocationTable MakeTable(std::initializer_list<AllocationRow> rows) {
  AllocationTable table{};
  int sb = 0;
  for (const AllocationRow& row : rows) {
    for (int i = 0; i < row.subbands; ++i, ++sb) {
      table.nbal[sb] = static_cast<uint8_t>(row.nbal);
      for (int8_t& c : table.quant_class[sb]) c = -1;
      int value = 1;
      for (int c : row.classes) table.quant_class[sb][value++] = static_cast<int8_t>(c);
    }
  }
  table.sblimit = sb;
  return table;
}

void BuildAllocationTables(AllocationTable (&tables)[kAllocationTableCount]) {
  tables[kTableA] = MakeTable({{3, 4, kHighRow0}, {8, 4, kHighRow1}, {12, 3, kHighRow2}, {4, 2, kHighRow3}});
  tables[kTableB] = MakeTable({{3, 4, kHighRow0}, {8, 4, kHighRow1}, {12, 3, kHighRow2}, {7, 2, kHighRow3}});
  tables[kTableC] = MakeTable({{2, 4, kLowRow0}, {6, 3, kLowRow1}});
  tables[kTableD] = MakeTable({{2, 4, kLowRow0}, {10, 3, kLowRow1}});
  tables[kTableLowRate] = MakeTable({{4, 4, kLsfRow0}, {7, 3, kLsfRow1}, {19, 2, kLsfRow2}});
}

// First half of the synthesis window (coefficients 0..256, 1.0 = 65536); the
// second half mirrors it.
constexpr int32_t kWindowHalf[257] = {
    0,      -1,     -1,     -1,     -1,     -1,     -1,     -2,     -2,     -2,     -2,     -3,     -3,
    -4,     -4,     -5,     -5,     -6,     -7,     -7,     -8,     -9,     -10,    -11,    -13,    -14,
    -16,    -17,    -19,    -21,    -24,    -26,    -29,    -31,    -35,    -38,    -41,    -45,    -49,
    -53,    -58,    -63,    -68,    -73,    -79,    -85,    -91,    -97,    -104,   -111,   -117,   -125,
    -132,   -139,   -147,   -154,   -161,   -169,   -176,   -183,   -190,   -196,   -202,   -208,   213,
    218,    222,    225,    227,    228,    228,    227,    224,    221,    215,    208,    200,    189,
    177,    163,    146,    127,    106,    83,     57,     29,     -2,     -36,    -72,    -111,   -153,
    -197,   -244,   -294,   -347,   -401,   -459,   -519,   -581,   -645,   -711,   -779,   -848,   -919,
    -991,   -1064,  -1137,  -1210,  -1283,  -1356,  -1428,  -1498,  -1567,  -1634,  -1698,  -1759,  -1817,
    -1870,  -1919,  -1962,  -2001,  -2032,  -2057,  -2075,  -2085,  -2087,  -2080,  -2063,  2037,   2000,
    1952,   1893,   1822,   1739,   1644,   1535,   1414,   1280,   1131,   970,    794,    605,    402,
    185,    -45,    -288,   -545,   -814,   -1095,  -1388,  -1692,  -2006,  -2330,  -2663,  -3004,  -3351,
    -3705,  -4063,  -4425,  -4788,  -5153,  -5517,  -5879,  -6237,  -6589,  -6935,  -7271,  -7597,  -7910,
    -8209,  -8491,  -8755,  -8998,  -9219,  -9416,  -9585,  -9727,  -9838,  -9916,  -9959,  -9966,  -9935,
    -9863,  -9750,  -9592,  -9389,  -9139,  -8840,  -8492,  -8092,  -7640,  -7134,  6574,   5959,   5288,
    4561,   3776,   2935,   2037,   1082,   70,     -998,   -2122,  -3300,  -4533,  -5818,  -7154,  -8540,
    -9975,  -11455, -12980, -14548, -16155, -17799, -19478, -21189, -22929, -24694, -26482, -28289, -30112,
    -31947, -33791, -35640, -37489, -39336, -41176, -43006, -44821, -46617, -48390, -50137, -51853, -53534,
    -55178, -56778, -58333, -59838, -61289, -62684, -64019, -65290, -66494, -67629, -68692, -69679, -70590,
    -71420, -72169, -72835, -73415, -73908, -74313, -74630, -74856, -74992, 75038,
};

template <size_t N>
void BuildGroupTable(int16_t (&table)[N][3], int levels) {
  // Code words past levels^3 do not occur in valid streams; taking every
  // digit modulo `levels` keeps them in range.
  for (size_t word = 0; word < N; ++word) {
    uint32_t w = static_cast<uint32_t>(word);
    for (int i = 0; i < 3; ++i) {
      const int code = static_cast<int>(w % static_cast<uint32_t>(levels));
      w /= static_cast<uint32_t>(levels);
      table[word][i] = static_cast<int16_t>(2 * code - (levels - 1));
    }
  }
}

void BuildTables(DecoderTables& t) {
  BuildAllocationTables(t.allocation);
  BuildGroupTable(t.group3, 3);
  BuildGroupTable(t.group5, 5);
  BuildGroupTable(t.group9, 9);

  // Sample = numerator / levels * scale factor, scale factor = 2^(1 - index / 3).
  // Index 63 does not occur in valid streams; it continues the series.
  for (int c = 0; c < kQuantClassCount; ++c) {
    for (int index = 0; index < 64; ++index) {
      const double value = std::exp2(1.0 - index / 3.0) / kQuantClasses[c].levels * (1 << kFractionBits);
      int shift = 30 - static_cast<int>(std::floor(std::log2(value)));
      double scaled = std::round(std::ldexp(value, shift));
      if (scaled >= 2147483648.0) {
        --shift;
        scaled = std::round(std::ldexp(value, shift));
      }
      t.requant[c][index] = {static_cast<int32_t>(scaled), shift, int64_t{1} << (shift - 1)};
    }
  }

  for (int i = 0; i <= 256; ++i) {
    t.window[i] = kWindowHalf[i];
    if (i > 0 && i < 256) t.window[512 - i] = (i % 64) != 0 ? -kWindowHalf[i] : kWindowHalf[i];
  }
  for (int i = kWindowLength; i < kWindowPadded; ++i) t.window[i] = 0;

  const double pi = std::acos(-1.0);
  for (int n = 2; n <= 32; n *= 2) {
    for (int k = 0; k < n / 2; ++k) {
      const double factor = 1.0 / (2.0 * std::cos((2 * k + 1) * pi / (2 * n)));
      t.dct_factors[n / 2 - 1 + k] = static_cast<int32_t>(std::lround(std::ldexp(factor, kDctFactorBits)));
    }
  }
}

}  // namespace

const DecoderTables& GetDecoderTables() {
  static DecoderTables tables;
  static std::once_flag built;
  std::call_once(built, [] { BuildTables(tables); });
  return tables;
}

}  // namespace lyr::decoder
