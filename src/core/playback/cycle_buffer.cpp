#include "playback/cycle_buffer.h"

#include <algorithm>
#include <cstring>

namespace lyr {

uint32_t CCycleBuffer::Read(void* destination, uint32_t length) {
  const uint32_t count = std::min(length, available_);
  const uint32_t capacity = GetCapacity();
  if (count == 0) return 0;
  const uint32_t first = std::min(count, capacity - read_);
  auto* out = static_cast<uint8_t*>(destination);
  std::memcpy(out, data_.data() + read_, first);
  std::memcpy(out + first, data_.data(), count - first);
  read_ = (read_ + count) % capacity;
  available_ -= count;
  return count;
}

uint32_t CCycleBuffer::Write(const void* source, uint32_t length) {
  const uint32_t capacity = GetCapacity();
  const uint32_t count = std::min(length, capacity - available_);
  if (count == 0) return 0;
  const uint32_t first = std::min(count, capacity - write_);
  const auto* in = static_cast<const uint8_t*>(source);
  std::memcpy(data_.data() + write_, in, first);
  std::memcpy(data_.data(), in + first, count - first);
  write_ = (write_ + count) % capacity;
  available_ += count;
  return count;
}

}  // namespace lyr
