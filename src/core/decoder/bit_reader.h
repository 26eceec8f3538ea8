#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace lyr::decoder {

// Reads big-endian bit fields of up to 24 bits. The buffer must hold eight
// readable bytes past the last byte a field can reach; the decoder keeps its
// frame copy zero-padded for that.
class BitReader {
 public:
  BitReader(const uint8_t* data, size_t start_bit) : data_(data), position_(start_bit) {}

  uint32_t Read(unsigned bits) {
    uint64_t word;
    std::memcpy(&word, data_ + (position_ >> 3), sizeof word);
    word = __builtin_bswap64(word) << (position_ & 7);
    position_ += bits;
    return static_cast<uint32_t>(word >> (64 - bits));
  }

 private:
  const uint8_t* data_;
  size_t position_;
};

}  // namespace lyr::decoder
