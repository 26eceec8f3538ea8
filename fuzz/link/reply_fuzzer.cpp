// Feeds arbitrary bytes as everything the recorder answers, and runs every
// command that reads a reply: no reply may crash the link or size an
// allocation or loop beyond what the command asked for.
#include <cstddef>
#include <cstdint>
#include <algorithm>
#include <cstring>
#include <vector>

#include "link/recorder_link.h"
#include "platform/byte_order.h"

namespace {

// A disk whose every read returns the fuzz bytes, over and over; writes are
// taken. A leading byte picks where reads start failing, as an unplug would.
class FuzzDisk final : public lyr::BlockDevice {
 public:
  FuzzDisk(const uint8_t* data, size_t size, size_t fail_after) : data_(data, data + size), fail_after_(fail_after) {}
  bool ReadAt(uint64_t, void* buffer, size_t length, size_t* done) override {
    *done = 0;
    if (++transfers_ > fail_after_) return false;
    auto* out = static_cast<uint8_t*>(buffer);
    if (data_.empty()) {
      std::memset(out, 0, length);
    } else {
      for (size_t i = 0; i < length;) {
        const size_t at = pos_ % data_.size();
        const size_t n = std::min(length - i, data_.size() - at);
        std::memcpy(out + i, data_.data() + at, n);
        i += n;
        pos_ += n;
      }
    }
    *done = length;
    return true;
  }
  bool WriteAt(uint64_t, const void*, size_t length, size_t* done) override {
    *done = 0;
    if (++transfers_ > fail_after_) return false;
    *done = length;
    return true;
  }

 private:
  std::vector<uint8_t> data_;
  size_t pos_ = 0;
  size_t transfers_ = 0;
  size_t fail_after_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const size_t fail_after = size > 0 ? 4 + data[0] : 1000;
  lyr::RecorderLink link([&](const std::string&) {
    return lyr::RawDriveOpenResult(std::make_unique<FuzzDisk>(data, size, fail_after));
  });
  link.SetSettleDelay(std::chrono::milliseconds(0));
  if (link.OpenLink("fuzz") != 0) return 0;
  link.SetDriveOpen(true);
  link.Identify();
  link.RequestAccess("");
  link.SetAccessGranted(true);

  lyr::DeviceRecord device{};
  lyr::MemoryStatusRecord memory{};
  lyr::SettingsRecord settings{};
  lyr::FirmwareStatusRecord firmware{};
  lyr::RecordingRecordBytes record{};
  std::string text;
  uint32_t value = 0;
  link.GetDeviceInfo(device);
  link.ReadSettings(settings);
  link.GetFirmwareStatus(firmware);
  link.GetHighestIndex(value);
  link.GetRecorderText(text);
  if (text.size() > 255) __builtin_trap();
  link.GetCopiedMark(1, value);
  link.GetRecordingInfo(1, record);
  if (link.GetMemoryStatus(memory)) {
    // The count is the recorder's word: the list read must refuse what does
    // not fit the array rather than overrun it.
    const uint32_t count = lyr::GetU32(&memory[32]);
    std::vector<uint32_t> entries(256);
    link.ReadRecordingList(entries, count);
  }
  std::vector<uint8_t> buffer(70000);
  const uint32_t length = size >= 4 ? lyr::GetU32(data) % 70000 : 1000;
  link.ReadRecordingData(1, size >= 8 ? lyr::GetU32(data + 4) : 0, length, buffer.data());
  link.ReadRecordingData(1, 10, 100, buffer.data());
  link.ReadFirmwareData(buffer.data(), 5000);
  return 0;
}
