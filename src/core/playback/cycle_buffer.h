#pragma once
#include <cstdint>
#include <vector>

namespace lyr {

// A plain byte ring: the decoder's output queue of a player stream.
class CCycleBuffer {
 public:
  explicit CCycleBuffer(uint32_t capacity) : data_(capacity) {}
  virtual ~CCycleBuffer() = default;

  // Copies min(length, available) bytes out; returns the count.
  uint32_t Read(void* destination, uint32_t length);
  // Stores min(length, capacity - available) bytes; returns the count.
  uint32_t Write(const void* source, uint32_t length);
  uint32_t GetAvailable() const { return available_; }
  uint32_t GetCapacity() const { return static_cast<uint32_t>(data_.size()); }
  void Reset() { available_ = read_ = write_ = 0; }

 private:
  std::vector<uint8_t> data_;
  uint32_t read_ = 0;
  uint32_t write_ = 0;
  uint32_t available_ = 0;
};

}  // namespace lyr
