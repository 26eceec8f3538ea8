#pragma once
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "emulator/recorder_store.h"
#include "platform/block_device.h"

namespace lyr_emu {

struct ExchangeStats {
  uint64_t commands = 0;         // command blocks run
  uint64_t refused_blocks = 0;   // "INFO" blocks with a bad checksum or position
  uint64_t stray_writes = 0;     // sectors written that were neither commands nor expected data
  uint64_t sectors_read = 0;
  uint64_t sectors_written = 0;
  uint64_t failed_transfers = 0; // transfers failed by fault injection or disconnect
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

  // Plugged out: every transfer fails until plugged in again.
  void SetConnected(bool connected);
  bool connected() const { return connected_; }

  ExchangeStats stats() const;
  std::string StatsText() const;
  RecorderStore& store() { return store_; }

 private:
  enum class RegionKind { None, Reply, RecordingData, FirmwareSink };
  struct Region {
    RegionKind kind = RegionKind::None;
    uint32_t start_sector = 0;  // first sector after the command block
    uint64_t length = 0;        // bytes
    std::vector<uint8_t> bytes; // Reply, FirmwareSink
    uint32_t entry = 0;         // RecordingData
    uint32_t data_offset = 0;   // RecordingData
  };

  void RunCommand(uint32_t sector, const uint8_t* block);
  bool ReadRegion(uint32_t sector, uint8_t* out, size_t length);
  void WriteSector(uint32_t sector, const uint8_t* data);
  // Byte offset into the current region of a sector, or -1 when outside it.
  int64_t RegionOffset(uint32_t sector) const;
  void SetReply(uint32_t sector, std::vector<uint8_t> bytes);
  std::vector<uint8_t> DeviceRecordReply() const;
  std::vector<uint8_t> MemoryStatusReply();
  // The data file of the recording being read, kept open between pieces.
  int DataFile(const StoredRecording& rec);
  void CloseDataFile();

  RecorderStore& store_;
  mutable std::mutex mutex_;
  std::atomic<bool> connected_{true};
  Region region_;
  ExchangeStats stats_;
  uint32_t firmware_expected_ = 0;
  int32_t delete_busy_left_ = 0;
  bool delete_failed_ = false;
  int data_fd_ = -1;
  uint32_t data_fd_entry_ = 0;
};

}  // namespace lyr_emu
