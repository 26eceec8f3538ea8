#pragma once
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "platform/block_device.h"
#include "platform/result.h"

namespace lyr {

// Sum of the buffer's little-endian 16-bit words, negated modulo 2^32.
uint32_t BlockChecksum(const void* buffer, uint32_t length);

// How long one transfer may take before the recorder counts as gone: the
// usual USB mass-storage command timeout.
inline constexpr std::chrono::milliseconds kDefaultReplyBound{30000};

// The raw drive and the moving sector window through which command blocks,
// replies and bulk data pass. Every exchange outside OpenLink/CloseDrive goes
// through RecorderLink, which serialises them.
//
// Every transfer is bounded by the reply bound. A transfer that comes back
// later than that fails, whatever it moved, and so does every transfer after
// it until the drive is opened again. A watchdog thread notices a transfer
// that has not come back at all: it marks the link stalled and calls the
// stall handler, so that other threads and the front end learn of it at once.
// The stuck call itself returns only when the operating system lets it (a
// USB disk's SCSI layer gives up on its own; a FUSE server that stopped
// answering holds it until the server ends).
class SectorTransport {
 public:
  using DriveOpener = std::function<RawDriveOpenResult(const std::string& path)>;

  SectorTransport();
  explicit SectorTransport(DriveOpener opener);
  ~SectorTransport();
  SectorTransport(const SectorTransport&) = delete;
  SectorTransport& operator=(const SectorTransport&) = delete;

  // 0 when the drive opened, -1 otherwise (OpenError() then tells why).
  int OpenDrive(const std::string& path);
  void CloseDrive();
  // Window to 2048, open the drive, send the hello block. 0 or -1.
  int OpenLink(const std::string& path);
  bool IsOpen() const { return drive_ != nullptr; }
  // Why the last OpenDrive failed.
  const Error& OpenError() const { return open_error_; }

  // The bound on one transfer (0: none); takes effect with the next transfer.
  void SetReplyBound(std::chrono::milliseconds bound) { reply_bound_ns_ = bound.count() * 1000000; }
  std::chrono::milliseconds ReplyBound() const {
    return std::chrono::milliseconds(reply_bound_ns_.load() / 1000000);
  }
  // Called once, on the watchdog thread or the transferring one, when a
  // transfer outlives the bound. It must not call into the transport.
  void SetStallHandler(std::function<void()> handler);
  // A transfer outlived the bound; cleared when a drive is opened.
  bool Stalled() const { return stalled_; }

  // Positioned transfers: 0 on success, -1 on failure.
  int WriteSectors(uint32_t sector, const void* buffer, uint32_t length, uint32_t* written);
  int ReadSectors(uint32_t sector, void* buffer, uint32_t length, uint32_t* read);

  void InitBlockHeader(uint8_t* block);
  // Header, checksum, write at the window pointer; bytes written (0 on failure).
  uint32_t SendCommandBlock(uint8_t* block, uint32_t length);
  // Next sectors of the window, split at the window end; bytes transferred.
  uint32_t BulkRead(void* buffer, uint32_t length);
  uint32_t BulkWrite(const void* buffer, uint32_t length);
  // The same, true only when every byte asked for was moved: a short
  // transfer leaves bytes the recorder never sent (or never got).
  bool BulkReadWhole(void* buffer, uint32_t length);
  bool BulkWriteWhole(const void* buffer, uint32_t length);

  uint32_t WindowPointer() const { return window_pointer_; }
  void SetWindowPointer(uint32_t sector) { window_pointer_ = sector; }

 private:
  template <typename Transfer>
  uint32_t Bulk(uint32_t length, Transfer transfer);
  template <typename Io>
  bool Timed(Io io);
  void MarkStalled();
  void StartWatchdog();
  void StopWatchdog();
  void WatchdogMain();

  DriveOpener opener_;
  std::unique_ptr<BlockDevice> drive_;
  uint32_t window_pointer_ = 2048;
  Error open_error_;

  std::atomic<int64_t> reply_bound_ns_{kDefaultReplyBound.count() * 1000000};
  std::atomic<int64_t> transfer_start_ns_{0};  // 0: no transfer under way
  std::atomic<bool> stalled_{false};
  std::mutex watch_mutex_;  // the handler and the watchdog's life
  std::condition_variable watch_wake_;
  bool watch_stop_ = false;
  std::function<void()> stall_handler_;
  std::thread watchdog_;
};

}  // namespace lyr
