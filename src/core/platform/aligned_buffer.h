#pragma once
#include <cstddef>
#include <cstdlib>
#ifdef _WIN32
#include <malloc.h>
#endif
#include <cstring>
#include <new>
#include <span>

namespace lyr {

// A zero-filled buffer aligned for direct I/O (4096 bytes covers every sector
// and page size the raw disk may demand).
class AlignedBuffer {
 public:
  static constexpr size_t kAlignment = 4096;

  AlignedBuffer() = default;
  explicit AlignedBuffer(size_t size) { Resize(size); }
  ~AlignedBuffer() { Release(data_); }
  AlignedBuffer(const AlignedBuffer&) = delete;
  AlignedBuffer& operator=(const AlignedBuffer&) = delete;
  AlignedBuffer(AlignedBuffer&& other) noexcept : data_(other.data_), size_(other.size_) {
    other.data_ = nullptr;
    other.size_ = 0;
  }
  AlignedBuffer& operator=(AlignedBuffer&& other) noexcept {
    if (this != &other) {
      Release(data_);
      data_ = other.data_;
      size_ = other.size_;
      other.data_ = nullptr;
      other.size_ = 0;
    }
    return *this;
  }

  // Returns false (and keeps the old buffer) when memory is short.
  bool Resize(size_t size) {
    const size_t rounded = (size + kAlignment - 1) / kAlignment * kAlignment;
    void* p = rounded == 0 ? nullptr : Allocate(rounded);
    if (rounded != 0 && p == nullptr) return false;
    if (p != nullptr) std::memset(p, 0, rounded);
    Release(data_);
    data_ = static_cast<unsigned char*>(p);
    size_ = size;
    return true;
  }
  void Zero() {
    if (data_ != nullptr) std::memset(data_, 0, size_);
  }

  unsigned char* data() { return data_; }
  const unsigned char* data() const { return data_; }
  size_t size() const { return size_; }
  std::span<unsigned char> span() { return {data_, size_}; }

 private:
  // The Windows C library has no aligned_alloc; its aligned blocks need their own free.
#ifdef _WIN32
  static void* Allocate(size_t size) { return _aligned_malloc(size, kAlignment); }
  static void Release(void* p) { _aligned_free(p); }
#else
  static void* Allocate(size_t size) { return std::aligned_alloc(kAlignment, size); }
  static void Release(void* p) { std::free(p); }
#endif

  unsigned char* data_ = nullptr;
  size_t size_ = 0;
};

}  // namespace lyr
