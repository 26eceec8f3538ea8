#pragma once
#include <cstdint>
#include <string>

#include "link/recorder_link.h"
#include "platform/result.h"

namespace lyr {

// The command set as the programs call it: each RecorderLink operation under
// its own name, its 1/0 result (0/1 for OpenLink) and last error turned into
// a Status or Result whose error code is that last error. RecorderLink keeps
// its own form for the core, whose callers and tests depend on it.
class LinkCommands {
 public:
  explicit LinkCommands(RecorderLink& link) : link_(link) {}

  Status OpenLink(const std::string& device_path) {
    if (link_.OpenLink(device_path) == 0) return {};
    return link_.OpenError();
  }
  Result<DeviceRecord> GetDeviceInfo() {
    DeviceRecord record{};
    const bool ok = link_.GetDeviceInfo(record) != 0;
    return LastErrorResult(ok, record, "device record");
  }
  Result<SettingsRecord> ReadSettings() {
    SettingsRecord settings{};
    const bool ok = link_.ReadSettings(settings) != 0;
    return LastErrorResult(ok, settings, "settings");
  }
  Status WriteSettings(const SettingsRecord& settings) {
    return LastErrorStatus(link_.WriteSettings(settings) != 0, "settings");
  }
  Status SetClock(const RecorderClock& clock) { return LastErrorStatus(link_.SetClock(clock) != 0, "clock"); }
  Result<MemoryStatusRecord> GetMemoryStatus() {
    MemoryStatusRecord memory{};
    const bool ok = link_.GetMemoryStatus(memory) != 0;
    return LastErrorResult(ok, memory, "memory status");
  }
  Result<uint32_t> GetHighestIndex() {
    uint32_t index = 0;
    const bool ok = link_.GetHighestIndex(index) != 0;
    return LastErrorResult(ok, index, "highest index");
  }
  Status ResetFileCounter() { return LastErrorStatus(link_.ResetFileCounter() != 0, "file counter"); }
  Result<std::string> GetRecorderText() {
    std::string text;
    const bool ok = link_.GetRecorderText(text) != 0;
    return LastErrorResult(ok, std::move(text), "recorder text");
  }
  Result<RecordingRecordBytes> GetRecordingInfo(uint32_t entry) {
    RecordingRecordBytes record{};
    const bool ok = link_.GetRecordingInfo(entry, record) != 0;
    return LastErrorResult(ok, record, "recording " + std::to_string(entry));
  }
  Status ReleaseRecorder(bool send) { return LastErrorStatus(link_.ReleaseRecorder(send) != 0, "release"); }

 private:
  RecorderLink& link_;
};

}  // namespace lyr
