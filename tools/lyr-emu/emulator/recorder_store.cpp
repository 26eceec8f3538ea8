#include "emulator/recorder_store.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <limits>
#include <nlohmann/json.hpp>
#include <set>
#include <system_error>

#include "platform/byte_order.h"
#include "platform/result.h"
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

// Every key of recorder.json once, with its member and the values it may
// take: reading, checking and writing the file all go through here, so a new
// setting or fault is a member of RecorderConfig and one line below.
template <class Visitor>
void VisitSettings(RecorderConfig& c, Visitor& v) {
  v.Number("firmware_version", c.firmware_version);
  v.Number("hardware_mcu", c.hardware_mcu);
  v.Flag("access_locked", c.access_locked);
  v.Flag("refused", c.refused);
  v.Text("recorder_text", c.recorder_text, kRecorderTextMax);
  v.Text("serial", c.serial, kSerialMax);
  v.Text("file_prefix", c.file_prefix, kFilePrefixMax);
  v.Number("file_counter", c.file_counter);
  v.Number("memory_units", c.memory_units);
  v.Number("unit_size", c.unit_size);
  v.Number("list_capacity", c.list_capacity);
  v.Number("clock_offset_seconds", c.clock_offset_seconds, -kClockOffsetMax, kClockOffsetMax);
  v.Number("faults.disconnect_after", c.disconnect_after);
  v.Number("faults.read_fail_offset", c.read_fail_offset, -1);
  v.Number("faults.delete_busy_polls", c.delete_busy_polls, -1);
  v.Flag("faults.delete_fails", c.delete_fails);
  v.Number("faults.slow_reply_ms", c.slow_reply_ms, 0, kSlowReplyMaxMs);
  v.Flag("faults.list_count_override", c.list_count_override);
  v.Number("faults.list_count_value", c.list_count_value);
  v.Number("faults.firmware_write_fail_piece", c.firmware_write_fail_piece);
  v.Number("faults.firmware_readback_bad_piece", c.firmware_readback_bad_piece);
  v.Number("faults.firmware_status_length_delta", c.firmware_status_length_delta, -kFirmwareLengthDeltaMax,
           kFirmwareLengthDeltaMax);
}

// Keys that hold further keys.
constexpr const char* kSections[] = {"faults"};

json::json_pointer Pointer(std::string key) {
  std::replace(key.begin(), key.end(), '.', '/');
  return json::json_pointer("/" + key);
}

struct SettingsWriter {
  json j = json::object();
  template <class T>
  void Number(const char* key, T value, int64_t = 0, uint64_t = 0) {
    j[Pointer(key)] = value;
  }
  void Flag(const char* key, bool value) { j[Pointer(key)] = value; }
  void Text(const char* key, const std::string& value, size_t) { j[Pointer(key)] = value; }
};

// Takes the keys present in `j` into a config, refusing the first value of a
// wrong type or out of range: a value silently wrapped or cut would inject a
// fault nobody asked for.
class SettingsReader {
 public:
  explicit SettingsReader(const json& j) : j_(j) {}

  template <class T>
  void Number(const char* key, T& value, int64_t min = static_cast<int64_t>(std::numeric_limits<T>::min()),
              uint64_t max = static_cast<uint64_t>(std::numeric_limits<T>::max())) {
    const json* v = Find(key);
    if (v == nullptr) return;
    bool in_range = false;
    if (v->is_number_unsigned()) {
      const uint64_t n = v->get<uint64_t>();
      in_range = n <= max && (min <= 0 || n >= static_cast<uint64_t>(min));
      if (in_range) value = static_cast<T>(n);
    } else if (v->is_number_integer()) {
      const int64_t n = v->get<int64_t>();
      in_range = n >= min && (n < 0 || static_cast<uint64_t>(n) <= max);
      if (in_range) value = static_cast<T>(n);
    }
    if (!in_range)
      Refuse(key, "must be a whole number from " + std::to_string(min) + " to " + std::to_string(max), *v);
  }
  void Flag(const char* key, bool& value) {
    const json* v = Find(key);
    if (v == nullptr) return;
    if (v->is_boolean()) {
      value = v->get<bool>();
    } else {
      Refuse(key, "must be true or false", *v);
    }
  }
  void Text(const char* key, std::string& value, size_t max_length) {
    const json* v = Find(key);
    if (v == nullptr) return;
    if (v->is_string() && v->get_ref<const std::string&>().size() <= max_length) {
      value = v->get<std::string>();
    } else {
      Refuse(key, "must be a text of at most " + std::to_string(max_length) + " characters", *v);
    }
  }

  // The first key refused, or an empty text.
  const std::string& problem() const { return problem_; }

  // After the visit: refuses keys the stand-in does not know (a misspelt
  // fault would otherwise be no fault at all) and sections that hold no keys.
  void CheckKeys() {
    for (const char* section : kSections) {
      if (j_.contains(section) && !j_.at(section).is_object()) {
        Refuse(section, "must hold its keys between { and }", j_.at(section));
        return;
      }
    }
    const json leaves = j_.flatten();
    for (const auto& [path, value] : leaves.items()) {
      if (known_.count(path) != 0) continue;
      std::string key = path.substr(1);
      std::replace(key.begin(), key.end(), '/', '.');
      // An empty section flattens to the section itself.
      const bool empty_section = std::find_if(std::begin(kSections), std::end(kSections),
                                              [&](const char* s) { return key == s; }) != std::end(kSections);
      if (!empty_section && problem_.empty()) problem_ = "unknown key " + key;
    }
  }

 private:
  const json* Find(const char* key) {
    const json::json_pointer at = Pointer(key);
    known_.insert(at.to_string());
    if (!problem_.empty()) return nullptr;
    return j_.contains(at) ? &j_.at(at) : nullptr;
  }
  void Refuse(const char* key, const std::string& rule, const json& found) {
    if (problem_.empty()) problem_ = std::string(key) + " " + rule + " (it is " + found.dump() + ")";
  }

  const json& j_;
  std::string problem_;
  std::set<std::string> known_;  // every key visited, as a JSON pointer
};

// The configuration in `text`, the contents of `file`.
lyr::Result<RecorderConfig> ParseRecorderConfig(const std::vector<uint8_t>& text, const fs::path& file) {
  json j;
  try {
    j = json::parse(text.begin(), text.end());
  } catch (const json::parse_error& e) {
    return lyr::Error::Code(lyr::kErrorInvalidData,
                            file.string() + ": not valid JSON (at byte " + std::to_string(e.byte) + ")");
  }
  if (!j.is_object())
    return lyr::Error::Code(lyr::kErrorInvalidData, file.string() + ": not a JSON object of settings");
  RecorderConfig config;
  SettingsReader reader(j);
  VisitSettings(config, reader);
  reader.CheckKeys();
  if (!reader.problem().empty())
    return lyr::Error::Code(lyr::kErrorInvalidData, file.string() + ": " + reader.problem());
  return config;
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

// The settings record a new recorder starts with.
std::array<uint8_t, 248> DefaultSettingsRecord(const std::string& file_prefix) {
  std::array<uint8_t, 248> s{};
  uint8_t* in = s.data();  // input template
  PutText(in, 32, "Line In");
  lyr::PutU16(in + 32, 1);      // input device
  lyr::PutU16(in + 40, 80);     // recording level
  lyr::PutU16(in + 44, 70);     // output volume
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

}  // namespace

lyr::Result<std::unique_ptr<RecorderStore>> RecorderStore::Create(const fs::path& dir) {
  std::error_code ec;
  fs::create_directories(dir / "recordings", ec);
  if (ec)
    return lyr::Error::Code(lyr::kErrorPathNotFound, "cannot create " + dir.string() + ": " + ec.message());
  if (fs::exists(dir / "recorder.json"))
    return lyr::Error::Code(lyr::kErrorAlreadyExists, dir.string() + " already holds a recorder store");
  std::unique_ptr<RecorderStore> store(new RecorderStore(dir));
  store->settings_ = DefaultSettingsRecord(store->config_.file_prefix);
  LYR_TRY(store->SaveConfig());
  if (!store->SaveSettings())
    return lyr::Error::Code(lyr::kErrorIoDevice, "cannot write the store at " + dir.string());
  return store;
}

lyr::Result<std::unique_ptr<RecorderStore>> RecorderStore::Open(const fs::path& dir) {
  std::unique_ptr<RecorderStore> store(new RecorderStore(dir));
  LYR_TRY(store->Load());
  return store;
}

lyr::Status RecorderStore::Load() {
  std::vector<uint8_t> bytes;
  if (!ReadWholeFile(dir_ / "recorder.json", &bytes)) {
    return lyr::Error::Code(
        lyr::kErrorFileNotFound,
        dir_.string() + " is not a recorder store (no recorder.json; make one with lyr-emu init)");
  }
  LYR_TRY_ASSIGN(config_, ParseRecorderConfig(bytes, dir_ / "recorder.json"));
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
  return {};
}

lyr::Status RecorderStore::SaveConfig() {
  SettingsWriter writer;
  VisitSettings(config_, writer);
  const std::string text = writer.j.dump(2) + "\n";
  if (!WriteWholeFile(dir_ / "recorder.json", text.data(), text.size()))
    return lyr::Error::Code(lyr::kErrorIoDevice, "cannot write " + (dir_ / "recorder.json").string());
  return {};
}

bool RecorderStore::SaveSettings() {
  return WriteWholeFile(dir_ / "settings.bin", settings_.data(), settings_.size());
}

bool RecorderStore::SaveFirmware(std::vector<uint8_t> image) {
  firmware_ = std::move(image);
  return WriteWholeFile(dir_ / "firmware.bin", firmware_.data(), firmware_.size());
}

fs::path RecorderStore::RecordingPath(uint32_t entry, const char* ext) const {
  return dir_ / "recordings" / (std::to_string(entry) + ext);
}

lyr::Result<uint32_t> RecorderStore::AddRecording(std::array<uint8_t, 652> record, const fs::path& data_file,
                                                  uint64_t offset, uint64_t length,
                                                  uint32_t requested_entry) {
  uint32_t e = requested_entry;
  if (e == 0) {
    e = recordings_.empty() ? 1 : recordings_.rbegin()->first + 1;
  } else if (recordings_.count(e) != 0) {
    return lyr::Error::Code(lyr::kErrorAlreadyExists, "entry " + std::to_string(e) + " is in use");
  }
  if (length > UINT32_MAX)
    return lyr::Error::Code(lyr::kErrorInvalidParameter, "a recording holds at most 4 GiB of audio data");
  lyr::PutU32(record.data() + lyr::record::kDataSize, static_cast<uint32_t>(length));
  lyr::PutU32(record.data() + lyr::record::kEntry, e);
  StoredRecording rec;
  rec.entry = e;
  rec.record = record;
  rec.data_path = RecordingPath(e, ".dat");
  if (!CopyRange(data_file, offset, length, rec.data_path))
    return lyr::Error::Code(lyr::kErrorIoDevice, "cannot copy the audio data of " + data_file.string());
  rec.data_size = length;
  if (!WriteWholeFile(RecordingPath(e, ".rec"), record.data(), record.size()))
    return lyr::Error::Code(lyr::kErrorIoDevice, "cannot write the recording record");
  recordings_[e] = std::move(rec);
  return e;
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
