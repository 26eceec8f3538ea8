#pragma once
#include <array>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/result.h"

namespace lyr_emu {

// Limits of the settings in recorder.json; a store holding a value outside
// them is refused when it is opened.
inline constexpr size_t kRecorderTextMax = 2047;  // the reply holds 2048 bytes with the NUL
inline constexpr size_t kSerialMax = 126;         // a USB serial number descriptor
inline constexpr size_t kFilePrefixMax = 8;       // the settings record's field
inline constexpr int64_t kClockOffsetMax = 200ll * 366 * 24 * 3600;
inline constexpr uint32_t kSlowReplyMaxMs = 60000;  // longer only hangs the client
inline constexpr int32_t kFirmwareLengthDeltaMax = 16 << 20;

// Everything about the stand-in recorder that is not a recording: what it
// reports, how it answers, and the faults it injects. Kept in
// STORE/recorder.json; each member has its key and its range in one list in
// recorder_store.cpp (VisitSettings).
struct RecorderConfig {
  uint16_t firmware_version = 6021;  // shown as V6.021
  uint16_t hardware_mcu = 0x0312;    // hardware 3, MCU 12
  bool access_locked = false;        // status word bit 0
  bool refused = false;              // answers the refusal pattern
  std::string recorder_text = "Torvi LYR stand-in recorder";
  std::string serial = "LYR0000001";
  std::string file_prefix = "LYR";  // settings record offset 92, 8 characters
  uint32_t file_counter = 0;        // highest index given to a recording
  uint32_t memory_units = 61000;
  uint32_t unit_size = 32768;
  uint32_t list_capacity = 1000;
  int64_t clock_offset_seconds = 0;  // recorder clock minus host clock

  // Fault injection.
  uint64_t disconnect_after = 0;     // commands served before the link drops; 0 = never
  int64_t read_fail_offset = -1;     // recording data reads reaching this byte offset fail; -1 = never
  int32_t delete_busy_polls = 0;     // memory status polls reporting busy after a delete; -1 = forever
  bool delete_fails = false;         // memory status reports the last delete as failed
  uint32_t slow_reply_ms = 0;        // delay before each command is answered and each firmware piece
                                     // taken, at most kSlowReplyMaxMs
  bool list_count_override = false;  // report list_count_value as the list's length
  uint32_t list_count_value = 0;
  uint32_t firmware_write_fail_piece = 0;    // the write of this firmware piece (1 = first) fails; 0 = never
  uint32_t firmware_readback_bad_piece = 0;  // this piece of the read-back differs; 0 = never
  int32_t firmware_status_length_delta = 0;  // added to the read-back length the status reports
};

// One recording held by the stand-in: its 652-byte record and its audio data.
struct StoredRecording {
  uint32_t entry = 0;
  std::array<uint8_t, 652> record{};
  std::filesystem::path data_path;
  uint64_t data_size = 0;
  bool copied = false;
};

// A directory holding the stand-in's state:
//   recorder.json              configuration and faults
//   settings.bin               the 248-byte settings record
//   firmware.bin               the last firmware image received
//   recordings/<entry>.rec     652-byte recording record
//   recordings/<entry>.dat     audio data as the recorder stores it
//   recordings/<entry>.copied  present when the copied mark is set
class RecorderStore {
 public:
  static lyr::Result<std::unique_ptr<RecorderStore>> Create(const std::filesystem::path& dir);
  static lyr::Result<std::unique_ptr<RecorderStore>> Open(const std::filesystem::path& dir);

  const std::filesystem::path& dir() const { return dir_; }
  RecorderConfig& config() { return config_; }
  const RecorderConfig& config() const { return config_; }
  lyr::Status SaveConfig();

  std::array<uint8_t, 248>& settings() { return settings_; }
  bool SaveSettings();
  const std::vector<uint8_t>& firmware() const { return firmware_; }
  bool SaveFirmware(std::vector<uint8_t> image);

  // Adds a recording whose data is `length` bytes of `data_file` from
  // `offset` (copied into the store). entry 0 picks the next free entry.
  // The record's entry and data size fields are set. Returns the entry used.
  lyr::Result<uint32_t> AddRecording(std::array<uint8_t, 652> record, const std::filesystem::path& data_file,
                                     uint64_t offset, uint64_t length, uint32_t requested_entry = 0);
  bool RemoveRecording(uint32_t entry);
  bool RemoveAllRecordings();
  bool SetCopied(uint32_t entry, bool copied);

  const std::map<uint32_t, StoredRecording>& recordings() const { return recordings_; }
  const StoredRecording* Find(uint32_t entry) const;

 private:
  explicit RecorderStore(std::filesystem::path dir) : dir_(std::move(dir)) {}
  lyr::Status Load();
  std::filesystem::path RecordingPath(uint32_t entry, const char* ext) const;

  std::filesystem::path dir_;
  RecorderConfig config_;
  std::array<uint8_t, 248> settings_{};
  std::vector<uint8_t> firmware_;
  std::map<uint32_t, StoredRecording> recordings_;
};

}  // namespace lyr_emu
