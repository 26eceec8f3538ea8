#pragma once
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "link/recorder_link.h"
#include "platform/result.h"
#include "settings/settings_templates.h"

namespace lyr {

class RecorderModel;

// The memory status record's figures. Byte figures are units x unit size in
// 64 bits; used units are size - free, or 0 when free exceeds size.
struct MemoryFigures {
  uint32_t size_units = 0;
  uint32_t unit_size = 0;
  uint32_t free_units = 0;
  uint32_t list_capacity = 0;  // recordings the list can hold
  uint32_t list_count = 0;     // recordings listed

  uint64_t SizeBytes() const { return uint64_t{size_units} * unit_size; }
  uint64_t FreeBytes() const { return uint64_t{free_units} * unit_size; }
  uint64_t UsedBytes() const {
    return size_units > free_units ? uint64_t{size_units - free_units} * unit_size : 0;
  }
};

// A local (wall-clock) date and time without a time zone.
using LocalDateTime = std::chrono::local_time<std::chrono::milliseconds>;
RecorderClock BreakDown(LocalDateTime when);
// The PC's local time now.
LocalDateTime LocalNow();

// Every page or panel that shows the recorder's state.
class ModelListener {
 public:
  virtual ~ModelListener();
  // Copy what the listener shows out of the model.
  virtual void LoadFromModel() = 0;
  // Build the listener's choice lists.
  virtual void Prepare() = 0;
  // Put the listener's copy into its controls.
  virtual void Show() = 0;
  // Store the model, then Prepare and Show. A null model is ignored.
  virtual void Attach(RecorderModel* model);

  RecorderModel* Model() const { return model_; }

 protected:
  RecorderModel* model_ = nullptr;

 private:
  friend class RecorderModel;
};

// What the PC knows about the connected recorder (settings, memory status and
// device records, the time they were read) and the settings templates kept
// in cfgfile.ini. Used on the GUI thread; the application owns one.
class RecorderModel {
 public:
  RecorderModel();
  // Saves the templates to the file they were loaded from, and detaches the
  // listeners still registered.
  ~RecorderModel();
  RecorderModel(const RecorderModel&) = delete;
  RecorderModel& operator=(const RecorderModel&) = delete;

  // Appends the listener unless it is listed already; attaches it either way.
  void AddListener(ModelListener* listener);
  void RemoveListener(ModelListener* listener);
  // LoadFromModel and Show on every listener except `origin` (may be null).
  void NotifyListeners(ModelListener* origin);

  // Zeroes the settings, memory status and device records.
  void Reset();
  // Takes the records and the refresh time of a model that another thread
  // refreshed (the templates and listeners stay).
  void AdoptRecords(const RecorderModel& other);
  // Reads the settings (failure changes nothing and returns 0), commits the
  // fixed values, reads the device record and the memory status and takes
  // the refresh time. The later commands' failures are ignored.
  int Refresh(RecorderLink& link);
  // Puts the fixed input values into the settings record and sends it.
  int Commit(RecorderLink& link);
  // The fixed input values Commit puts into a settings record, for a caller
  // that sends its own copy (from a worker thread).
  static void PutFixedValues(SettingsRecord& settings);
  // Takes a device record and memory status read at `read_at` (on another
  // thread), as Refresh would: the refresh time becomes that moment.
  void TakeStatus(const DeviceRecord& device, const MemoryStatusRecord& memory,
                  std::chrono::steady_clock::time_point read_at);
  // When the device record the model holds was read.
  std::chrono::steady_clock::time_point RefreshSteady() const { return refresh_steady_; }
  // The recorder's clock now: the device record's clock (clamped in place to
  // year 2099, month 12, day 31, 23:59:59) plus the time since the refresh.
  // Empty when the clock fields make no valid date (a zeroed record).
  std::optional<LocalDateTime> RecorderNow();
  std::optional<LocalDateTime> RecorderNow(std::chrono::steady_clock::time_point now);

  // Templates from cfgfile.ini at `config_path` (built-ins when the file is
  // missing); the path is kept for SaveTemplates. An empty path gives the
  // built-ins and nothing is saved.
  void LoadTemplates(const std::string& config_path);
  bool SaveTemplates();
  const std::string& ConfigPath() const { return config_path_; }

  FileFormatTemplateList& FileFormatTemplates() { return file_formats_; }
  InputTemplateList& InputTemplates() { return inputs_; }

  SettingsRecord& Settings() { return settings_; }
  MemoryStatusRecord& MemoryStatus() { return memory_status_; }
  DeviceRecord& Device() { return device_; }
  const SettingsRecord& Settings() const { return settings_; }
  const MemoryStatusRecord& MemoryStatus() const { return memory_status_; }
  const DeviceRecord& Device() const { return device_; }
  // Bytes 0..59 and 60..119 of the settings record.
  InputTemplate SettingsInput() const;
  FileFormatTemplate SettingsFileFormat() const;
  void SetSettingsInput(const InputTemplate& input);
  void SetSettingsFileFormat(const FileFormatTemplate& format);
  uint16_t FirmwareVersion() const;
  // Device record: high byte the hardware version, low byte the MCU version
  // as two decimal digits.
  uint16_t HardwareMcuVersion() const;
  // Device record: the recorder's clock when the record was read, as stored.
  RecorderClock DeviceClock() const;
  MemoryFigures Memory() const;
  // PC local time of the last refresh.
  LocalDateTime RefreshTime() const { return refresh_time_; }

  const std::vector<ModelListener*>& Listeners() const { return listeners_; }

 private:
  FileFormatTemplateList file_formats_;
  InputTemplateList inputs_;
  SettingsRecord settings_{};
  MemoryStatusRecord memory_status_{};
  DeviceRecord device_{};
  LocalDateTime refresh_time_{};
  // Elapsed time is measured on the monotonic clock, so that a change of the
  // PC's clock does not move the recorder's.
  std::chrono::steady_clock::time_point refresh_steady_;
  std::vector<ModelListener*> listeners_;
  std::string config_path_;
};

// Commit as the programs call it, with the last error as the error's code.
inline Status Commit(RecorderModel& model, RecorderLink& link) {
  return CallWithLastError([&] { return model.Commit(link) != 0; }, "settings");
}

}  // namespace lyr
