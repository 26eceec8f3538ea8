#pragma once
// A BlockDevice wrapper that records every transfer, for tests that check
// which sectors the link touched and what it wrote there.
#include <cstring>
#include <memory>
#include <vector>

#include "platform/block_device.h"

namespace lyr_test {

struct Transfer {
  bool write = false;
  uint64_t offset = 0;
  size_t length = 0;
  std::vector<uint8_t> head;  // first sector of a write
};

class SpyDevice final : public lyr::BlockDevice {
 public:
  SpyDevice(std::unique_ptr<lyr::BlockDevice> inner, std::vector<Transfer>* log)
      : inner_(std::move(inner)), log_(log) {}
  bool ReadAt(uint64_t offset, void* buffer, size_t length, size_t* done) override {
    log_->push_back({false, offset, length, {}});
    return inner_->ReadAt(offset, buffer, length, done);
  }
  bool WriteAt(uint64_t offset, const void* buffer, size_t length, size_t* done) override {
    const auto* p = static_cast<const uint8_t*>(buffer);
    log_->push_back({true, offset, length, std::vector<uint8_t>(p, p + std::min<size_t>(length, 512))});
    return inner_->WriteAt(offset, buffer, length, done);
  }

 private:
  std::unique_ptr<lyr::BlockDevice> inner_;
  std::vector<Transfer>* log_;
};

}  // namespace lyr_test
