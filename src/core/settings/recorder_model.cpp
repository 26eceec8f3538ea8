#include "settings/recorder_model.h"

#include <algorithm>
#include <ctime>

#include "link/protocol.h"
#include "platform/byte_order.h"
#include "platform/trace.h"
#include "settings/profile_file.h"

namespace lyr {
namespace {

using namespace std::chrono;

// The input block every written settings record carries, whatever it held.
struct FixedValue {
  size_t offset;
  int width;  // 2 or 4 bytes
  uint32_t value;
};
constexpr FixedValue kCommitValues[] = {
    {32, 2, 2},  {34, 2, 2},  {36, 2, 0},  {38, 2, 0},  {40, 2, 216}, {42, 2, 0},
    {44, 2, 0},  {48, 4, 0},  {52, 4, 0},  {56, 4, 0},  {120, 2, 0},  {122, 2, 2},
    {124, 4, 5}, {128, 4, 0}, {156, 4, 0}, {184, 4, 0}, {212, 4, 0},  {240, 4, 2},
};

}  // namespace

LocalDateTime LocalNow() {
  const auto now = system_clock::now();
  const std::time_t t = system_clock::to_time_t(now);
  std::tm tm{};
  localtime_r(&t, &tm);
  const auto day = local_days{year{tm.tm_year + 1900} / (tm.tm_mon + 1) / tm.tm_mday};
  const auto ms = duration_cast<milliseconds>(now.time_since_epoch()) % 1000;
  return LocalDateTime{day} + hours{tm.tm_hour} + minutes{tm.tm_min} + seconds{tm.tm_sec} + ms;
}

RecorderClock BreakDown(LocalDateTime when) {
  const auto day = floor<days>(when);
  const year_month_day ymd{day};
  const hh_mm_ss<milliseconds> time{when - day};
  RecorderClock c;
  c.year = static_cast<uint16_t>(static_cast<int>(ymd.year()));
  c.month = static_cast<uint16_t>(static_cast<unsigned>(ymd.month()));
  c.day = static_cast<uint16_t>(static_cast<unsigned>(ymd.day()));
  c.hour = static_cast<uint16_t>(time.hours().count());
  c.minute = static_cast<uint16_t>(time.minutes().count());
  c.second = static_cast<uint16_t>(time.seconds().count());
  return c;
}

ModelListener::~ModelListener() {
  if (model_ != nullptr) model_->RemoveListener(this);
}

void ModelListener::Attach(RecorderModel* model) {
  if (model == nullptr) return;
  model_ = model;
  Prepare();
  Show();
}

RecorderModel::RecorderModel() : refresh_steady_(steady_clock::now()) {}

RecorderModel::~RecorderModel() {
  SaveTemplates();
  for (ModelListener* l : listeners_) l->model_ = nullptr;
}

void RecorderModel::AddListener(ModelListener* listener) {
  if (listener == nullptr) return;
  if (std::find(listeners_.begin(), listeners_.end(), listener) == listeners_.end())
    listeners_.push_back(listener);
  listener->Attach(this);
}

void RecorderModel::RemoveListener(ModelListener* listener) {
  const auto it = std::find(listeners_.begin(), listeners_.end(), listener);
  if (it == listeners_.end()) return;
  listeners_.erase(it);
  listener->model_ = nullptr;
}

void RecorderModel::NotifyListeners(ModelListener* origin) {
  // A copy: a listener may unregister itself (or another) while it redraws.
  const std::vector<ModelListener*> listeners = listeners_;
  for (ModelListener* l : listeners) {
    if (l == origin) continue;
    if (std::find(listeners_.begin(), listeners_.end(), l) == listeners_.end()) continue;
    l->LoadFromModel();
    l->Show();
  }
}

void RecorderModel::Reset() {
  settings_.fill(0);
  memory_status_.fill(0);
  device_.fill(0);
}

void RecorderModel::AdoptRecords(const RecorderModel& other) {
  settings_ = other.settings_;
  memory_status_ = other.memory_status_;
  device_ = other.device_;
  refresh_time_ = other.refresh_time_;
  refresh_steady_ = other.refresh_steady_;
}

int RecorderModel::Refresh(RecorderLink& link) {
  if (!link.ReadSettings(settings_)) return 0;
  Commit(link);
  link.GetDeviceInfo(device_);
  link.GetMemoryStatus(memory_status_);
  refresh_time_ = LocalNow();
  refresh_steady_ = steady_clock::now();
  return 1;
}

void RecorderModel::PutFixedValues(SettingsRecord& settings) {
  for (const FixedValue& f : kCommitValues) {
    if (f.width == 2) {
      PutU16(settings.data() + f.offset, static_cast<uint16_t>(f.value));
    } else {
      PutU32(settings.data() + f.offset, f.value);
    }
  }
}

int RecorderModel::Commit(RecorderLink& link) {
  PutFixedValues(settings_);
  return link.WriteSettings(settings_);
}

void RecorderModel::TakeStatus(const DeviceRecord& device, const MemoryStatusRecord& memory,
                               steady_clock::time_point read_at) {
  device_ = device;
  memory_status_ = memory;
  const steady_clock::time_point now = steady_clock::now();
  const auto since = read_at < now ? duration_cast<milliseconds>(now - read_at) : milliseconds{0};
  refresh_time_ = LocalNow() - since;
  refresh_steady_ = read_at;
}

std::optional<LocalDateTime> RecorderModel::RecorderNow() { return RecorderNow(steady_clock::now()); }

std::optional<LocalDateTime> RecorderModel::RecorderNow(steady_clock::time_point now) {
  constexpr uint16_t kLimits[6] = {2099, 12, 31, 23, 59, 59};
  uint16_t f[6];
  for (int i = 0; i < 6; ++i) {
    uint8_t* p = device_.data() + protocol::kDevClock + 2 * i;
    f[i] = std::min(GetU16(p), kLimits[i]);
    PutU16(p, f[i]);
  }
  const year_month_day ymd{year{f[0]}, month{f[1]}, day{f[2]}};
  if (!ymd.ok()) return std::nullopt;
  const LocalDateTime clock = LocalDateTime{local_days{ymd}} + hours{f[3]} + minutes{f[4]} + seconds{f[5]};
  return clock + duration_cast<milliseconds>(now - refresh_steady_);
}

void RecorderModel::LoadTemplates(const std::string& config_path) {
  config_path_ = config_path;
  ProfileFile file;
  if (!config_path.empty() && !file.Load(config_path))
    Trace("settings: %s not read, built-in templates used\n", config_path.c_str());
  lyr::LoadTemplates(file, inputs_, file_formats_);
}

bool RecorderModel::SaveTemplates() {
  if (config_path_.empty()) return false;
  ProfileFile file;
  file.Load(config_path_);
  lyr::SaveTemplates(file, inputs_, file_formats_);
  return file.Save(config_path_);
}

InputTemplate RecorderModel::SettingsInput() const { return InputTemplate::FromBytes(settings_.data()); }

FileFormatTemplate RecorderModel::SettingsFileFormat() const {
  return FileFormatTemplate::FromBytes(settings_.data() + InputTemplate::kSize);
}

void RecorderModel::SetSettingsInput(const InputTemplate& input) { input.ToBytes(settings_.data()); }

void RecorderModel::SetSettingsFileFormat(const FileFormatTemplate& format) {
  format.ToBytes(settings_.data() + InputTemplate::kSize);
}

uint16_t RecorderModel::FirmwareVersion() const {
  return GetU16(device_.data() + protocol::kDevFirmwareVersion);
}

uint16_t RecorderModel::HardwareMcuVersion() const {
  return GetU16(device_.data() + protocol::kDevHardwareMcu);
}

RecorderClock RecorderModel::DeviceClock() const {
  const uint8_t* c = device_.data() + protocol::kDevClock;
  return RecorderClock{GetU16(c), GetU16(c + 2), GetU16(c + 4), GetU16(c + 6), GetU16(c + 8), GetU16(c + 10)};
}

MemoryFigures RecorderModel::Memory() const {
  const uint8_t* m = memory_status_.data();
  return MemoryFigures{GetU32(m + protocol::kMemSizeUnits), GetU32(m + protocol::kMemUnitSize),
                       GetU32(m + protocol::kMemFreeUnits), GetU32(m + protocol::kMemListCapacity),
                       GetU32(m + protocol::kMemListCount)};
}

}  // namespace lyr
