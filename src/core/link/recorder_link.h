#pragma once
#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <span>
#include <string>

#include "link/protocol.h"
#include "link/sector_transport.h"
#include "platform/aligned_buffer.h"

namespace lyr {

using DeviceRecord = std::array<uint8_t, protocol::kDeviceRecordSize>;
using MemoryStatusRecord = std::array<uint8_t, protocol::kMemoryStatusSize>;
using SettingsRecord = std::array<uint8_t, protocol::kSettingsRecordSize>;
using RecordingRecordBytes = std::array<uint8_t, protocol::kRecordingRecordSize>;
using FirmwareStatusRecord = std::array<uint8_t, protocol::kFirmwareStatusSize>;

struct RecorderClock {
  uint16_t year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};

inline bool IsEntryFlagged(uint32_t entry) { return ((entry >> protocol::kEntryFlagBit) & 1) != 0; }

// The command set of the recorder: one operation per command, each holding
// the command lock from its command block to its last reply sector. Results
// are 1 on success and 0 on failure, and every failure sets the last error:
// 1201 when the recorder could not be reached, was not opened or has not
// granted access (for the commands that need it), or did not answer within
// the reply bound; 87 for an argument the command cannot carry. One object
// per recorder link; the application owns one, tests make their own.
class RecorderLink {
 public:
  RecorderLink();
  explicit RecorderLink(SectorTransport::DriveOpener opener);
  RecorderLink(const RecorderLink&) = delete;
  RecorderLink& operator=(const RecorderLink&) = delete;

  // Drive handling for discovery; called while no exchange runs.
  int OpenLink(const std::string& device_path);
  void CloseDrive();
  // Why the last OpenLink could not open the drive.
  const Error& OpenError() const { return transport_.OpenError(); }
  SectorTransport& Transport() { return transport_; }

  // Link state as the watcher sets it at start: flags cleared, recorder
  // refused, read cache emptied.
  void ResetLinkState();
  void ClearReadCache();
  void SetDriveOpen(bool open) { drive_open_ = open; }
  void SetAccessGranted(bool granted) { access_granted_ = granted; }
  void SetRecorderRefused(bool refused) { recorder_refused_ = refused; }
  bool IsDriveOpen() const { return drive_open_; }
  bool IsAccessGranted() const { return access_granted_; }
  bool IsRecorderRefused() const { return recorder_refused_; }

  // The recorder's settle time after RequestAccess and SetClock (1000 ms).
  void SetSettleDelay(std::chrono::milliseconds delay) { settle_delay_ = delay; }
  // How long one transfer may take (kDefaultReplyBound, 30 s) before the
  // link fails with 1201 and stays failed until it is opened again, and who
  // hears of it at once (see SectorTransport).
  void SetReplyBound(std::chrono::milliseconds bound) { transport_.SetReplyBound(bound); }
  std::chrono::milliseconds ReplyBound() const { return transport_.ReplyBound(); }
  void SetStallHandler(std::function<void()> handler) { transport_.SetStallHandler(std::move(handler)); }

  int Identify();
  int GetDeviceInfo(DeviceRecord& out);
  int RequestAccess(const std::string& text);
  int ReleaseRecorder(bool send);
  int BeginFirmwareUpdate(uint32_t byte_count);
  int WriteSettings(const SettingsRecord& settings);
  int SetClock(const RecorderClock& clock);
  int ReadSettings(SettingsRecord& out);
  int BeginFirmwareReadback();
  int GetFirmwareStatus(FirmwareStatusRecord& out);
  int ResetFileCounter();
  int GetHighestIndex(uint32_t& out);
  int GetRecorderText(std::string& out);
  int SetRecorderText(const std::string& text);
  int GetMemoryStatus(MemoryStatusRecord& out);
  int DeleteRecording(uint32_t entry);
  int FormatMemory();
  int GetRecordingInfo(uint32_t entry, RecordingRecordBytes& out);
  int ReadRecordingData(uint32_t entry, uint32_t offset, uint32_t length, void* out);
  // `entries` must hold `count` entries rounded up to whole sectors
  // (RecordingListCapacityFor); a smaller array fails with last error 8.
  int ReadRecordingList(std::span<uint32_t> entries, uint32_t count);
  int MarkRecordingCopied(uint32_t entry);
  int GetCopiedMark(uint32_t entry, uint32_t& out);
  int WriteFirmwareData(const void* data, uint32_t length);
  int ReadFirmwareData(void* out, uint32_t length);

  // Entries an array needs so that the rounded-up list read fits.
  static uint64_t RecordingListCapacityFor(uint32_t count);

  // Threads waiting for the link to finish another thread's exchange. The
  // command lock is not fair: a background reader that goes straight on to
  // its next exchange lets these in first (see WaveBuilder).
  int ExchangesWaiting() const { return waiting_.load(); }

 private:
  using Block = std::array<uint8_t, protocol::kBlockSize>;
  using ExchangeLock = std::unique_lock<std::timed_mutex>;
  static constexpr std::chrono::milliseconds kLockPoll{100};

  // Takes the command lock; false with 1201 when the link stalls meanwhile.
  bool LockExchange(ExchangeLock& lock);
  // Sets the last error and returns false, for `return Fail(code);`.
  static bool Fail(uint32_t code);
  // Drive open and access granted, else false with 1201.
  bool HasAccess();

  bool Send(uint16_t group, uint16_t code, const void* args = nullptr, size_t arg_length = 0);
  bool ReadReply(size_t size);
  int SimpleCommand(uint16_t group, uint16_t code, const void* args = nullptr, size_t arg_length = 0,
                    bool needs_access = false);
  int QueryCommand(uint16_t group, uint16_t code, size_t reply_size, uint8_t* out, size_t out_size,
                   bool needs_access, const void* args = nullptr, size_t arg_length = 0);
  void Settle();

  SectorTransport transport_;
  std::timed_mutex command_lock_;
  std::atomic<int> waiting_{0};
  std::atomic<bool> drive_open_{false};
  std::atomic<bool> access_granted_{false};
  std::atomic<bool> recorder_refused_{true};
  std::chrono::milliseconds settle_delay_{1000};

  AlignedBuffer block_;  // command block
  AlignedBuffer reply_;  // reply sectors (up to 2048 bytes)
  AlignedBuffer cache_;  // last 64 KiB piece of recording data
  uint32_t cache_entry_ = 0;
  uint32_t cache_start_ = 0;
  uint32_t cache_size_ = 0;
};

}  // namespace lyr
