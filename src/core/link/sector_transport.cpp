#include "link/sector_transport.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <system_error>

#include "link/protocol.h"
#include "platform/aligned_buffer.h"
#include "platform/byte_order.h"
#include "platform/trace.h"

namespace lyr {

using namespace protocol;

uint32_t BlockChecksum(const void* buffer, uint32_t length) {
  const auto* p = static_cast<const uint8_t*>(buffer);
  uint32_t sum = 0;
  for (uint32_t i = 0; i + 1 < length; i += 2) sum += GetU16(p + i);
  return 0u - sum;
}

namespace {

int64_t NowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

SectorTransport::SectorTransport()
    : SectorTransport([](const std::string& path) { return OpenRawDrive(path); }) {}
SectorTransport::SectorTransport(DriveOpener opener) : opener_(std::move(opener)) {}

SectorTransport::~SectorTransport() {
  StopWatchdog();
  CloseDrive();
}

int SectorTransport::OpenDrive(const std::string& path) {
  CloseDrive();
  stalled_ = false;
  StartWatchdog();
  // Opening a served stand-in asks its server too: it has the same bound.
  RawDriveOpenResult r = Error{};
  if (!Timed([&] { return (r = opener_(path)).ok(); })) {
    open_error_ =
        r.ok() ? Error::Code(kErrorConnectionUnavail, "open " + path + ": no answer in time") : r.error();
    return -1;
  }
  open_error_ = Error{};
  drive_ = std::move(r).value();
  return 0;
}

void SectorTransport::SetStallHandler(std::function<void()> handler) {
  std::lock_guard lock(watch_mutex_);
  stall_handler_ = std::move(handler);
}

void SectorTransport::MarkStalled() {
  if (stalled_.exchange(true)) return;
  Trace("transport: no reply within %lld ms; the link is given up\n",
        static_cast<long long>(reply_bound_ns_.load() / 1000000));
  std::function<void()> handler;
  {
    std::lock_guard lock(watch_mutex_);
    handler = stall_handler_;
  }
  if (handler) handler();
}

// Runs one transfer under the reply bound: the clock starts here and the
// watchdog looks at it; a transfer that comes back late fails.
template <typename Io>
bool SectorTransport::Timed(Io io) {
  if (stalled_) return false;
  const int64_t start = NowNs();
  transfer_start_ns_.store(start, std::memory_order_relaxed);
  const bool ok = io();
  transfer_start_ns_.store(0, std::memory_order_relaxed);
  const int64_t bound = reply_bound_ns_.load(std::memory_order_relaxed);
  if (bound > 0 && NowNs() - start > bound) MarkStalled();
  return ok && !stalled_;
}

void SectorTransport::StartWatchdog() {
  std::lock_guard lock(watch_mutex_);
  if (watchdog_.joinable()) return;
  watch_stop_ = false;
  try {
    watchdog_ = std::thread(&SectorTransport::WatchdogMain, this);
  } catch (const std::system_error&) {
    // Without the thread a stuck transfer is still failed when it returns.
    Trace("transport: no watchdog thread\n");
  }
}

void SectorTransport::StopWatchdog() {
  {
    std::lock_guard lock(watch_mutex_);
    watch_stop_ = true;
  }
  watch_wake_.notify_all();
  if (watchdog_.joinable()) watchdog_.join();
}

void SectorTransport::WatchdogMain() {
  std::unique_lock lock(watch_mutex_);
  while (!watch_stop_) {
    // Looks an eighth of the bound apart (within 10 ms to 1 s): the
    // transfers themselves never wait for it.
    const int64_t bound = reply_bound_ns_.load(std::memory_order_relaxed);
    const int64_t step_ms = std::clamp<int64_t>(bound / 8 / 1000000, 10, 1000);
    watch_wake_.wait_for(lock, std::chrono::milliseconds(step_ms), [&] { return watch_stop_; });
    if (watch_stop_) break;
    const int64_t start = transfer_start_ns_.load(std::memory_order_relaxed);
    if (bound > 0 && start != 0 && NowNs() - start > bound && !stalled_) {
      lock.unlock();
      MarkStalled();
      lock.lock();
    }
  }
}

void SectorTransport::CloseDrive() { drive_.reset(); }

int SectorTransport::OpenLink(const std::string& path) {
  window_pointer_ = kWindowStart;
  if (OpenDrive(path) != 0) return -1;
  AlignedBuffer hello(kBlockSize);
  PutU16(hello.data() + kOffGroup, kGroupRecorder);
  PutU16(hello.data() + kOffCode, kCodeHello);
  return SendCommandBlock(hello.data(), kBlockSize) == kBlockSize ? 0 : -1;
}

int SectorTransport::WriteSectors(uint32_t sector, const void* buffer, uint32_t length, uint32_t* written) {
  if (!drive_) return -1;
  if (length == 0) return 0;
  *written = 0;
  // Never write outside the window: a raw disk opened by mistake keeps its
  // partition table and file system.
  const uint64_t end_sector = static_cast<uint64_t>(sector) + (length + kSectorSize - 1) / kSectorSize;
  if (sector < kWindowStart || end_sector > kWindowEnd) {
    Trace("transport: refused write of %u bytes at sector %u outside the window\n", length, sector);
    return -1;
  }
  size_t done = 0;
  const bool ok = Timed(
      [&] { return drive_->WriteAt(static_cast<uint64_t>(sector) * kSectorSize, buffer, length, &done); });
  // What came after the bound belongs to no exchange: nothing counts as moved.
  *written = stalled_ ? 0 : static_cast<uint32_t>(done);
  return ok ? 0 : -1;
}

int SectorTransport::ReadSectors(uint32_t sector, void* buffer, uint32_t length, uint32_t* read) {
  if (!drive_) return -1;
  if (length == 0) return 0;
  *read = 0;
  size_t done = 0;
  const bool ok = Timed(
      [&] { return drive_->ReadAt(static_cast<uint64_t>(sector) * kSectorSize, buffer, length, &done); });
  *read = stalled_ ? 0 : static_cast<uint32_t>(done);
  return ok ? 0 : -1;
}

void SectorTransport::InitBlockHeader(uint8_t* block) {
  PutU32(block + kOffTag, kBlockTag);
  PutU32(block + kOffChecksum, 0);
  if (window_pointer_ >= kWindowEnd) window_pointer_ = kWindowStart;
  PutU32(block + kOffPosition, window_pointer_);
}

uint32_t SectorTransport::SendCommandBlock(uint8_t* block, uint32_t length) {
  if (!drive_) return 0;
  InitBlockHeader(block);
  PutU32(block + kOffChecksum, BlockChecksum(block, length));
  uint32_t written = 0;
  if (WriteSectors(window_pointer_, block, length, &written) != 0) return 0;
  window_pointer_ += written / kSectorSize;
  return written;
}

template <typename Transfer>
uint32_t SectorTransport::Bulk(uint32_t length, Transfer transfer) {
  uint32_t total = 0;
  while (total < length) {
    uint32_t piece = length - total;
    const uint64_t start_byte = static_cast<uint64_t>(window_pointer_) * kSectorSize;
    if (start_byte + piece > kWindowEndByte) {
      piece = start_byte < kWindowEndByte ? static_cast<uint32_t>(kWindowEndByte - start_byte) : 0;
    }
    if (piece == 0) {
      // The pointer stands at the window end (a command block filled its
      // last sector): the data follows from the window start.
      window_pointer_ = kWindowStart;
      continue;
    }
    uint32_t moved = 0;
    const bool ok = transfer(window_pointer_, total, piece, &moved) == 0;
    window_pointer_ += moved / kSectorSize;
    if (window_pointer_ >= kWindowEnd) window_pointer_ = kWindowStart;
    total += moved;
    if (!ok || moved != piece) break;
  }
  return total;
}

uint32_t SectorTransport::BulkRead(void* buffer, uint32_t length) {
  if (length == 0 || buffer == nullptr) return 0;
  auto* out = static_cast<uint8_t*>(buffer);
  return Bulk(length, [&](uint32_t sector, uint32_t offset, uint32_t piece, uint32_t* moved) {
    return ReadSectors(sector, out + offset, piece, moved);
  });
}

uint32_t SectorTransport::BulkWrite(const void* buffer, uint32_t length) {
  if (length == 0 || buffer == nullptr) return 0;
  const auto* in = static_cast<const uint8_t*>(buffer);
  return Bulk(length, [&](uint32_t sector, uint32_t offset, uint32_t piece, uint32_t* moved) {
    return WriteSectors(sector, in + offset, piece, moved);
  });
}

bool SectorTransport::BulkReadWhole(void* buffer, uint32_t length) {
  return BulkRead(buffer, length) == length;
}

bool SectorTransport::BulkWriteWhole(const void* buffer, uint32_t length) {
  return BulkWrite(buffer, length) == length;
}

}  // namespace lyr
