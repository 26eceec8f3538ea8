#pragma once
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "emulator/recorder_store.h"
#include "platform/block_device.h"

namespace lyr_emu {

struct ExchangeStats {
  uint64_t commands = 0;        // command blocks run
  uint64_t refused_blocks = 0;  // "INFO" blocks with a bad checksum or position
  uint64_t stray_writes = 0;    // sectors written that were neither commands nor expected data
  uint64_t sectors_read = 0;
  uint64_t sectors_written = 0;
  uint64_t failed_transfers = 0;      // transfers failed by fault injection or disconnect
  uint64_t recording_info_reads = 0;  // group 1 code 4 commands
  uint64_t data_bytes_served = 0;
};

// The firmware side of the recorder's sector protocol over a RecorderStore.
// It watches writes for command blocks, runs each command and lays its reply
// (or bulk data) on the sectors that follow, wrapping at the window end the
// way the PC's transport does. Thread-safe: one exchange at a time.
class RecorderEmulator {
 public:
  explicit RecorderEmulator(RecorderStore& store);
  ~RecorderEmulator();
  RecorderEmulator(const RecorderEmulator&) = delete;
  RecorderEmulator& operator=(const RecorderEmulator&) = delete;

  // The byte-addressed disk the PC sees.
  bool Read(uint64_t offset, void* buffer, size_t length, size_t* done);
  bool Write(uint64_t offset, const void* buffer, size_t length, size_t* done);

  // A BlockDevice that forwards to this emulator, for an in-process link.
  std::unique_ptr<lyr::BlockDevice> Connect();

  // Plugged out: every transfer fails until plugged in again. Unplugging
  // also ends a reply being held back by slow_reply_ms.
  void SetConnected(bool connected);
  bool connected() const { return connected_; }

  // For a server that is stopping: a reply being held back is let go at
  // once, and every transfer fails from now on.
  void Shutdown();

  ExchangeStats stats() const;
  std::string StatsText() const;

 private:
  enum class RegionKind { None, Reply, RecordingData, FirmwareSink };
  struct Region {
    RegionKind kind = RegionKind::None;
    uint32_t start_sector = 0;   // first sector after the command block
    uint64_t length = 0;         // bytes
    std::vector<uint8_t> bytes;  // Reply, FirmwareSink
    uint32_t entry = 0;          // RecordingData
    uint32_t data_offset = 0;    // RecordingData
  };
  // One command: runs it on the block's argument area, laying its reply (if
  // any) on the sectors after `sector`.
  using CommandRun = void (RecorderEmulator::*)(uint32_t sector, const uint8_t* args);
  struct Command {
    uint16_t group;
    uint16_t code;
    CommandRun run;
  };
  // The command answering group and code, or nullptr for one the recorder
  // does not know (it answers nothing).
  static const Command* FindCommand(uint16_t group, uint16_t code);

  // False when the link dropped instead of answering.
  bool RunCommand(uint32_t sector, const uint8_t* block);
  // Holds the reply back for slow_reply_ms; false when stopped or unplugged meanwhile.
  bool DelayReply();
  bool ReadRegion(uint32_t sector, uint8_t* out, size_t length);
  bool ReadRecordingData(uint64_t at, size_t inside, uint8_t* out, size_t length);
  bool WriteSector(uint32_t sector, const uint8_t* data);
  // Byte offset into the current region of a sector, or -1 when outside it.
  int64_t RegionOffset(uint32_t sector) const;
  void SetReply(uint32_t sector, std::vector<uint8_t> bytes);
  // The data file of the recording being read, kept open between pieces.
  int DataFile(const StoredRecording& rec);
  void CloseDataFile();

  // Group 0: the recorder.
  void DeviceInfo(uint32_t sector, const uint8_t* args);
  void Acknowledge(uint32_t sector, const uint8_t* args);
  void BeginFirmwareUpdate(uint32_t sector, const uint8_t* args);
  void WriteSettings(uint32_t sector, const uint8_t* args);
  void SetClock(uint32_t sector, const uint8_t* args);
  void ReadSettings(uint32_t sector, const uint8_t* args);
  void BeginFirmwareReadback(uint32_t sector, const uint8_t* args);
  void FirmwareStatus(uint32_t sector, const uint8_t* args);
  void ResetFileCounter(uint32_t sector, const uint8_t* args);
  void HighestIndex(uint32_t sector, const uint8_t* args);
  void GetRecorderText(uint32_t sector, const uint8_t* args);
  void SetRecorderText(uint32_t sector, const uint8_t* args);
  // Group 1: the recordings.
  void MemoryStatus(uint32_t sector, const uint8_t* args);
  void DeleteRecording(uint32_t sector, const uint8_t* args);
  void FormatMemory(uint32_t sector, const uint8_t* args);
  void RecordingInfo(uint32_t sector, const uint8_t* args);
  void ReadData(uint32_t sector, const uint8_t* args);
  void RecordingList(uint32_t sector, const uint8_t* args);
  void MarkCopied(uint32_t sector, const uint8_t* args);
  void CopiedMark(uint32_t sector, const uint8_t* args);

  RecorderStore& store_;
  mutable std::mutex mutex_;  // one exchange at a time
  std::atomic<bool> connected_{true};
  std::atomic<bool> stopped_{false};
  // Wakes a held-back reply; guards the changes of connected_ and stopped_.
  std::mutex wake_mutex_;
  std::condition_variable wake_;
  Region region_;
  ExchangeStats stats_;
  uint32_t firmware_expected_ = 0;
  int32_t delete_busy_left_ = 0;
  bool delete_failed_ = false;
  int data_fd_ = -1;
  uint32_t data_fd_entry_ = 0;
};

}  // namespace lyr_emu
