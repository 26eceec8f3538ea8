#include "emulator/recorder_store.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <nlohmann/json.hpp>
#include <system_error>

#include "platform/byte_order.h"
#include "recordings/recording_record.h"

namespace lyr_emu {
namespace fs = std::filesystem;
using json = nlohmann::json;

namespace {

bool ReadWholeFile(const fs::path& path, std::vector<uint8_t>* out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  out->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return true;
}

bool WriteWholeFile(const fs::path& path, const void* data, size_t size) {
  const fs::path tmp = path.string() + ".tmp";
  {
    std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
    if (!out) return false;
    out.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
    if (!out) return false;
  }
  std::error_code ec;
  fs::rename(tmp, path, ec);
  return !ec;
}

void PutText(uint8_t* field, size_t width, const std::string& text) {
  std::memset(field, 0, width);
  std::memcpy(field, text.data(), std::min(width, text.size()));
}

json ConfigToJson(const RecorderConfig& c) {
  return json{{"firmware_version", c.firmware_version},
              {"hardware_mcu", c.hardware_mcu},
              {"access_locked", c.access_locked},
              {"refused", c.refused},
              {"recorder_text", c.recorder_text},
              {"serial", c.serial},
              {"file_prefix", c.file_prefix},
              {"file_counter", c.file_counter},
              {"memory_units", c.memory_units},
              {"unit_size", c.unit_size},
              {"list_capacity", c.list_capacity},
              {"clock_offset_seconds", c.clock_offset_seconds},
              {"faults",
               {{"disconnect_after", c.disconnect_after},
                {"read_fail_offset", c.read_fail_offset},
                {"delete_busy_polls", c.delete_busy_polls},
                {"delete_fails", c.delete_fails},
                {"slow_reply_ms", c.slow_reply_ms},
                {"list_count_override", c.list_count_override},
                {"list_count_value", c.list_count_value}}}};
}

template <typename T>
void Take(const json& j, const char* key, T& value) {
  if (j.contains(key)) value = j.at(key).get<T>();
}

void ConfigFromJson(const json& j, RecorderConfig& c) {
  Take(j, "firmware_version", c.firmware_version);
  Take(j, "hardware_mcu", c.hardware_mcu);
  Take(j, "access_locked", c.access_locked);
  Take(j, "refused", c.refused);
  Take(j, "recorder_text", c.recorder_text);
  Take(j, "serial", c.serial);
  Take(j, "file_prefix", c.file_prefix);
  Take(j, "file_counter", c.file_counter);
  Take(j, "memory_units", c.memory_units);
  Take(j, "unit_size", c.unit_size);
  Take(j, "list_capacity", c.list_capacity);
  Take(j, "clock_offset_seconds", c.clock_offset_seconds);
  if (j.contains("faults")) {
    const json& f = j.at("faults");
    Take(f, "disconnect_after", c.disconnect_after);
    Take(f, "read_fail_offset", c.read_fail_offset);
    Take(f, "delete_busy_polls", c.delete_busy_polls);
    Take(f, "delete_fails", c.delete_fails);
    Take(f, "slow_reply_ms", c.slow_reply_ms);
    Take(f, "list_count_override", c.list_count_override);
    Take(f, "list_count_value", c.list_count_value);
  }
}

bool CopyRange(const fs::path& from, uint64_t offset, uint64_t length, const fs::path& to) {
  std::ifstream in(from, std::ios::binary);
  std::ofstream out(to, std::ios::binary | std::ios::trunc);
  if (!in || !out) return false;
  in.seekg(static_cast<std::streamoff>(offset));
  std::vector<char> buffer(1 << 20);
  while (length > 0) {
    const size_t n = static_cast<size_t>(std::min<uint64_t>(length, buffer.size()));
    in.read(buffer.data(), static_cast<std::streamsize>(n));
    if (static_cast<size_t>(in.gcount()) != n) return false;
    out.write(buffer.data(), static_cast<std::streamsize>(n));
    if (!out) return false;
    length -= n;
  }
  return true;
}

}  // namespace

std::array<uint8_t, 248> DefaultSettingsRecord(const std::string& file_prefix) {
  std::array<uint8_t, 248> s{};
  uint8_t* in = s.data();  // input template
  PutText(in, 32, "Line In");
  lyr::PutU16(in + 32, 1);   // input device
  lyr::PutU16(in + 40, 80);  // recording level
  lyr::PutU16(in + 44, 70);  // output volume
  uint8_t* ff = s.data() + 60;  // file-format template
  PutText(ff, 32, "MPEG 48k 192");
  PutText(ff + 32, 8, file_prefix);
  PutText(ff + 40, 4, "MP2");
  lyr::PutU32(ff + 44, lyr::protocol::kCodecMpegLayer2);
  lyr::PutU32(ff + 48, 48000);
  lyr::PutU32(ff + 52, 192000);
  lyr::PutU16(ff + 56, 2);
  lyr::PutU16(ff + 58, 16);
  return s;
}

std::unique_ptr<RecorderStore> RecorderStore::Create(const fs::path& dir, std::string* error) {
  std::error_code ec;
  fs::create_directories(dir / "recordings", ec);
  if (ec) {
    *error = "cannot create " + dir.string() + ": " + ec.message();
    return nullptr;
  }
  if (fs::exists(dir / "recorder.json")) {
    *error = dir.string() + " already holds a recorder store";
    return nullptr;
  }
  std::unique_ptr<RecorderStore> store(new RecorderStore(dir));
  store->settings_ = DefaultSettingsRecord(store->config_.file_prefix);
  if (!store->SaveConfig(error) || !store->SaveSettings()) {
    if (error->empty()) *error = "cannot write the store at " + dir.string();
    return nullptr;
  }
  return store;
}

std::unique_ptr<RecorderStore> RecorderStore::Open(const fs::path& dir, std::string* error) {
  std::unique_ptr<RecorderStore> store(new RecorderStore(dir));
  if (!store->Load(error)) return nullptr;
  return store;
}

bool RecorderStore::Load(std::string* error) {
  std::vector<uint8_t> bytes;
  if (!ReadWholeFile(dir_ / "recorder.json", &bytes)) {
    *error = dir_.string() + " is not a recorder store (no recorder.json; make one with lyr-emu init)";
    return false;
  }
  try {
    ConfigFromJson(json::parse(bytes.begin(), bytes.end()), config_);
  } catch (const std::exception& e) {
    *error = "recorder.json: " + std::string(e.what());
    return false;
  }
  settings_ = DefaultSettingsRecord(config_.file_prefix);
  if (ReadWholeFile(dir_ / "settings.bin", &bytes) && bytes.size() == settings_.size())
    std::copy(bytes.begin(), bytes.end(), settings_.begin());
  ReadWholeFile(dir_ / "firmware.bin", &firmware_);

  std::error_code ec;
  for (const auto& item : fs::directory_iterator(dir_ / "recordings", ec)) {
    if (item.path().extension() != ".rec") continue;
    const std::string stem = item.path().stem().string();
    char* end = nullptr;
    const unsigned long entry = std::strtoul(stem.c_str(), &end, 10);
    if (end == stem.c_str() || *end != '\0' || entry > UINT32_MAX) continue;
    StoredRecording rec;
    rec.entry = static_cast<uint32_t>(entry);
    if (!ReadWholeFile(item.path(), &bytes) || bytes.size() != rec.record.size()) continue;
    std::copy(bytes.begin(), bytes.end(), rec.record.begin());
    rec.data_path = RecordingPath(rec.entry, ".dat");
    rec.data_size = fs::file_size(rec.data_path, ec);
    if (ec) continue;
    rec.copied = fs::exists(RecordingPath(rec.entry, ".copied"));
    recordings_[rec.entry] = std::move(rec);
  }
  return true;
}

bool RecorderStore::SaveConfig(std::string* error) {
  const std::string text = ConfigToJson(config_).dump(2) + "\n";
  if (!WriteWholeFile(dir_ / "recorder.json", text.data(), text.size())) {
    if (error) *error = "cannot write " + (dir_ / "recorder.json").string();
    return false;
  }
  return true;
}

bool RecorderStore::SaveSettings() { return WriteWholeFile(dir_ / "settings.bin", settings_.data(), settings_.size()); }

bool RecorderStore::SaveFirmware(std::vector<uint8_t> image) {
  firmware_ = std::move(image);
  return WriteWholeFile(dir_ / "firmware.bin", firmware_.data(), firmware_.size());
}

fs::path RecorderStore::RecordingPath(uint32_t entry, const char* ext) const {
  return dir_ / "recordings" / (std::to_string(entry) + ext);
}

bool RecorderStore::AddRecording(std::array<uint8_t, 652> record, const fs::path& data_file, uint64_t offset,
                                 uint64_t length, uint32_t* entry, std::string* error, uint32_t requested_entry) {
  uint32_t e = requested_entry;
  if (e == 0) {
    e = recordings_.empty() ? 1 : recordings_.rbegin()->first + 1;
  } else if (recordings_.count(e) != 0) {
    *error = "entry " + std::to_string(e) + " is in use";
    return false;
  }
  if (length > UINT32_MAX) {
    *error = "a recording holds at most 4 GiB of audio data";
    return false;
  }
  lyr::PutU32(record.data() + 0, static_cast<uint32_t>(length));
  lyr::PutU32(record.data() + 12, e);
  StoredRecording rec;
  rec.entry = e;
  rec.record = record;
  rec.data_path = RecordingPath(e, ".dat");
  if (!CopyRange(data_file, offset, length, rec.data_path)) {
    *error = "cannot copy the audio data of " + data_file.string();
    return false;
  }
  rec.data_size = length;
  if (!WriteWholeFile(RecordingPath(e, ".rec"), record.data(), record.size())) {
    *error = "cannot write the recording record";
    return false;
  }
  recordings_[e] = std::move(rec);
  if (entry) *entry = e;
  return true;
}

bool RecorderStore::RemoveRecording(uint32_t entry) {
  if (recordings_.erase(entry) == 0) return false;
  std::error_code ec;
  for (const char* ext : {".rec", ".dat", ".copied"}) fs::remove(RecordingPath(entry, ext), ec);
  return true;
}

bool RecorderStore::RemoveAllRecordings() {
  std::vector<uint32_t> entries;
  for (const auto& [e, r] : recordings_) entries.push_back(e);
  for (uint32_t e : entries) RemoveRecording(e);
  return true;
}

bool RecorderStore::SetCopied(uint32_t entry, bool copied) {
  auto it = recordings_.find(entry);
  if (it == recordings_.end()) return false;
  it->second.copied = copied;
  const fs::path mark = RecordingPath(entry, ".copied");
  if (copied) return WriteWholeFile(mark, "1", 1);
  std::error_code ec;
  fs::remove(mark, ec);
  return true;
}

const StoredRecording* RecorderStore::Find(uint32_t entry) const {
  auto it = recordings_.find(entry);
  return it == recordings_.end() ? nullptr : &it->second;
}

}  // namespace lyr_emu
