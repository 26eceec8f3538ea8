#include "link/recorder_link.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

#include "platform/byte_order.h"
#include "platform/last_error.h"
#include "platform/trace.h"

namespace lyr {

using namespace protocol;

namespace {

// The first bytes of a block as hex for a trace: what a bug report needs
// without a page of zeros.
std::string HexPrefix(const uint8_t* data, size_t size) {
  constexpr size_t kShown = 32;
  std::string out;
  char byte[4];
  for (size_t i = 0; i < std::min(size, kShown); ++i) {
    std::snprintf(byte, sizeof byte, i == 0 ? "%02x" : " %02x", data[i]);
    out += byte;
  }
  if (size > kShown) out += " ...";
  return out;
}

}  // namespace

RecorderLink::RecorderLink() : RecorderLink([](const std::string& path) { return OpenRawDrive(path); }) {}

RecorderLink::RecorderLink(SectorTransport::DriveOpener opener)
    : transport_(std::move(opener)), block_(kBlockSize), reply_(kReplyRecorderText), cache_(kDataPiece) {}

// Opening and closing wait for an exchange under way, even one stuck past
// the reply bound: the drive cannot go while a transfer is inside it.
int RecorderLink::OpenLink(const std::string& device_path) {
  std::lock_guard lock(command_lock_);
  ClearReadCache();
  return transport_.OpenLink(device_path);
}

void RecorderLink::CloseDrive() {
  std::lock_guard lock(command_lock_);
  transport_.CloseDrive();
}

bool RecorderLink::LockExchange(ExchangeLock& lock) {
  lock = ExchangeLock(command_lock_, std::defer_lock);
  if (lock.try_lock()) return true;
  ++waiting_;
  struct Waited {
    std::atomic<int>& count;
    ~Waited() { --count; }
  } waited{waiting_};
  // A thread stuck in a transfer past the reply bound keeps the lock; the
  // others give up rather than queue behind it.
  while (!lock.try_lock_for(kLockPoll)) {
    if (transport_.Stalled()) return Fail(kErrorConnectionUnavail);
  }
  return true;
}

bool RecorderLink::Fail(uint32_t code) {
  SetLastError(code);
  return false;
}

bool RecorderLink::HasAccess() { return (drive_open_ && access_granted_) || Fail(kErrorConnectionUnavail); }

void RecorderLink::ResetLinkState() {
  drive_open_ = false;
  access_granted_ = false;
  recorder_refused_ = true;
  ClearReadCache();
}

void RecorderLink::ClearReadCache() {
  cache_entry_ = 0;
  cache_start_ = 0;
  cache_size_ = 0;
}

void RecorderLink::Settle() {
  if (settle_delay_.count() > 0) std::this_thread::sleep_for(settle_delay_);
}

bool RecorderLink::Send(uint16_t group, uint16_t code, const void* args, size_t arg_length) {
  block_.Zero();
  PutU16(block_.data() + kOffGroup, group);
  PutU16(block_.data() + kOffCode, code);
  if (args != nullptr) std::memcpy(block_.data() + kOffArgs, args, std::min(arg_length, kMaxArgBytes));
  const bool sent = transport_.SendCommandBlock(block_.data(), kBlockSize) != 0;
  if (TraceEnabled())
    Trace("link: command %04x:%04x, %zu argument bytes%s%s\n", group, code, args != nullptr ? arg_length : 0,
          args != nullptr && arg_length > 0 ? ": " : "",
          args != nullptr ? HexPrefix(static_cast<const uint8_t*>(args), arg_length).c_str() : "");
  if (!sent) Trace("link: command %04x:%04x not sent\n", group, code);
  return sent;
}

bool RecorderLink::ReadReply(size_t size) {
  const bool read = transport_.BulkReadWhole(reply_.data(), static_cast<uint32_t>(size));
  if (TraceEnabled()) {
    if (read)
      Trace("link: reply of %zu bytes: %s\n", size, HexPrefix(reply_.data(), size).c_str());
    else
      Trace("link: no reply of %zu bytes\n", size);
  }
  return read;
}

int RecorderLink::SimpleCommand(uint16_t group, uint16_t code, const void* args, size_t arg_length,
                                bool needs_access) {
  ExchangeLock lock;
  if (!LockExchange(lock) || (needs_access && !HasAccess())) return 0;
  if (!Send(group, code, args, arg_length)) return Fail(kErrorConnectionUnavail);
  return 1;
}

int RecorderLink::QueryCommand(uint16_t group, uint16_t code, size_t reply_size, uint8_t* out,
                               size_t out_size, bool needs_access, const void* args, size_t arg_length) {
  ExchangeLock lock;
  if (!LockExchange(lock) || (needs_access && !HasAccess())) return 0;
  if (!Send(group, code, args, arg_length) || !ReadReply(reply_size)) return Fail(kErrorConnectionUnavail);
  std::memcpy(out, reply_.data(), out_size);
  return 1;
}

int RecorderLink::Identify() {
  ExchangeLock lock;
  if (!LockExchange(lock)) return 0;
  recorder_refused_ = true;
  if (!Send(kGroupRecorder, kCodeDeviceInfo) || !ReadReply(kReplySmall)) return Fail(kErrorConnectionUnavail);
  const uint8_t* r = reply_.data();
  const bool refused = GetU16(r + kDevStatus2) == 0 && GetU16(r + kDevStatus) == kRefusalPattern;
  recorder_refused_ = refused;
  return 1;
}

int RecorderLink::GetDeviceInfo(DeviceRecord& out) {
  return QueryCommand(kGroupRecorder, kCodeDeviceInfo, kReplySmall, out.data(), out.size(), true);
}

int RecorderLink::RequestAccess(const std::string& text) {
  ExchangeLock lock;
  if (!LockExchange(lock)) return 0;
  access_granted_ = false;
  // The text and its NUL must fit the argument area: a longer one is the
  // caller's mistake, and nothing is sent.
  if (text.size() + 1 > kMaxArgBytes) return Fail(kErrorInvalidParameter);
  if (!Send(kGroupRecorder, kCodeRequestAccess, text.c_str(), text.size() + 1))
    return Fail(kErrorConnectionUnavail);
  Settle();
  if (!Send(kGroupRecorder, kCodeDeviceInfo) || !ReadReply(kReplySmall)) return Fail(kErrorConnectionUnavail);
  if ((reply_.data()[kDevStatus] & 1) == 0) access_granted_ = true;
  return 1;
}

int RecorderLink::ReleaseRecorder(bool send) {
  ExchangeLock lock;
  if (!LockExchange(lock)) return 0;
  drive_open_ = false;
  access_granted_ = false;
  recorder_refused_ = true;
  if (!send) return 1;
  if (!Send(kGroupRecorder, kCodeRelease)) return Fail(kErrorConnectionUnavail);
  return 1;
}

int RecorderLink::BeginFirmwareUpdate(uint32_t byte_count) {
  uint8_t args[4];
  PutU32(args, byte_count);
  return SimpleCommand(kGroupRecorder, kCodeBeginFirmwareUpdate, args, sizeof args);
}

int RecorderLink::WriteSettings(const SettingsRecord& settings) {
  return SimpleCommand(kGroupRecorder, kCodeWriteSettings, settings.data(), settings.size(), true);
}

int RecorderLink::SetClock(const RecorderClock& c) {
  uint8_t args[12];
  const uint16_t fields[6] = {c.year, c.month, c.day, c.hour, c.minute, c.second};
  for (int i = 0; i < 6; ++i) PutU16(args + 2 * i, fields[i]);
  ExchangeLock lock;
  if (!LockExchange(lock)) return 0;
  if (!Send(kGroupRecorder, kCodeSetClock, args, sizeof args)) return Fail(kErrorConnectionUnavail);
  Settle();
  return 1;
}

int RecorderLink::ReadSettings(SettingsRecord& out) {
  return QueryCommand(kGroupRecorder, kCodeReadSettings, kReplySmall, out.data(), out.size(), true);
}

int RecorderLink::BeginFirmwareReadback() {
  return SimpleCommand(kGroupRecorder, kCodeBeginFirmwareReadback);
}

int RecorderLink::GetFirmwareStatus(FirmwareStatusRecord& out) {
  return QueryCommand(kGroupRecorder, kCodeFirmwareStatus, kReplySmall, out.data(), out.size(), false);
}

int RecorderLink::ResetFileCounter() { return SimpleCommand(kGroupRecorder, kCodeResetFileCounter); }

int RecorderLink::GetHighestIndex(uint32_t& out) {
  out = 0;
  uint8_t value[4];
  if (!QueryCommand(kGroupRecorder, kCodeHighestIndex, kReplySmall, value, sizeof value, false)) return 0;
  out = GetU32(value);
  return 1;
}

int RecorderLink::GetRecorderText(std::string& out) {
  ExchangeLock lock;
  if (!LockExchange(lock)) return 0;
  if (!Send(kGroupRecorder, kCodeGetRecorderText) || !ReadReply(kReplyRecorderText))
    return Fail(kErrorConnectionUnavail);
  // The reply's text may lack its NUL: keep at most 255 characters.
  const char* text = reinterpret_cast<const char*>(reply_.data());
  out.assign(text, strnlen(text, kRecorderTextMax));
  return 1;
}

int RecorderLink::SetRecorderText(const std::string& text) {
  uint8_t args[kRecorderTextMax + 1] = {};
  std::memcpy(args, text.data(), std::min(text.size(), kRecorderTextMax));
  return SimpleCommand(kGroupRecorder, kCodeSetRecorderText, args, sizeof args);
}

int RecorderLink::GetMemoryStatus(MemoryStatusRecord& out) {
  return QueryCommand(kGroupRecordings, kCodeMemoryStatus, kReplySmall, out.data(), out.size(), true);
}

int RecorderLink::DeleteRecording(uint32_t entry) {
  uint8_t args[4];
  PutU32(args, entry);
  ExchangeLock lock;
  if (!LockExchange(lock)) return 0;
  // The entry's data is going away: no later read may be served from cache.
  ClearReadCache();
  if (!Send(kGroupRecordings, kCodeDelete, args, sizeof args)) return Fail(kErrorConnectionUnavail);
  return 1;
}

int RecorderLink::FormatMemory() {
  ExchangeLock lock;
  if (!LockExchange(lock)) return 0;
  ClearReadCache();
  if (!Send(kGroupRecordings, kCodeFormat)) return Fail(kErrorConnectionUnavail);
  return 1;
}

int RecorderLink::GetRecordingInfo(uint32_t entry, RecordingRecordBytes& out) {
  uint8_t args[4];
  PutU32(args, entry);
  return QueryCommand(kGroupRecordings, kCodeRecordingInfo, kReplyRecordingInfo, out.data(), out.size(),
                      false, args, sizeof args);
}

int RecorderLink::ReadRecordingData(uint32_t entry, uint32_t offset, uint32_t length, void* out) {
  if (out == nullptr && length != 0) return Fail(kErrorInvalidParameter);
  ExchangeLock lock;
  if (!LockExchange(lock)) return 0;
  auto* dest = static_cast<uint8_t*>(out);
  const uint64_t cache_end = static_cast<uint64_t>(cache_start_) + cache_size_;
  if (cache_size_ != 0 && entry == cache_entry_ && offset >= cache_start_ && offset < cache_end &&
      static_cast<uint64_t>(offset) + length < cache_end) {
    std::memcpy(dest, cache_.data() + (offset - cache_start_), length);
    return 1;
  }

  uint8_t args[20] = {};
  PutU32(args + 0, entry);
  PutU32(args + 4, offset);
  PutU32(args + 8, 0);
  PutU32(args + 12, static_cast<uint32_t>((length / kDataPiece + 1) * kDataPiece));
  PutU32(args + 16, 0);
  if (!Send(kGroupRecordings, kCodeReadData, args, sizeof args)) return Fail(kErrorConnectionUnavail);
  uint32_t pieces = 0;
  for (uint64_t k = 0; k * kDataPiece < length; ++k) {
    // A piece that comes back short holds stale bytes past what was read:
    // the whole read fails rather than hand on data the recorder never sent.
    if (!transport_.BulkReadWhole(cache_.data(), kDataPiece)) {
      ClearReadCache();
      SetLastError(kErrorConnectionUnavail);
      return 0;
    }
    const size_t copy = std::min<uint64_t>(kDataPiece, length - k * kDataPiece);
    std::memcpy(dest + k * kDataPiece, cache_.data(), copy);
    ++pieces;
  }
  if (pieces > 0) {
    cache_entry_ = entry;
    cache_start_ = static_cast<uint32_t>(offset + static_cast<uint64_t>(pieces) * kDataPiece - kDataPiece);
    cache_size_ = kDataPiece;
  }
  return 1;
}

uint64_t RecorderLink::RecordingListCapacityFor(uint32_t count) {
  const uint64_t bytes = (static_cast<uint64_t>(count) * 4 + kSectorSize - 1) / kSectorSize * kSectorSize;
  return bytes / 4;
}

int RecorderLink::ReadRecordingList(std::span<uint32_t> entries, uint32_t count) {
  const uint64_t needed = RecordingListCapacityFor(count);
  if (needed > entries.size() || needed * 4 > UINT32_MAX) {
    SetLastError(kErrorNotEnoughMemory);
    return 0;
  }
  ExchangeLock lock;
  if (!LockExchange(lock)) return 0;
  if (!Send(kGroupRecordings, kCodeRecordingList)) return Fail(kErrorConnectionUnavail);
  const uint32_t bytes = static_cast<uint32_t>(needed * 4);
  if (bytes == 0) return 1;
  // Read straight into the caller's array; the entries are little-endian.
  uint8_t* raw = reinterpret_cast<uint8_t*>(entries.data());
  // A short list would leave entries the recorder never sent.
  if (!transport_.BulkReadWhole(raw, bytes)) return Fail(kErrorConnectionUnavail);
  for (uint64_t i = 0; i < needed; ++i) entries[i] = GetU32(raw + i * 4);
  // The list is padded with zeros after its last entry, and 0 is never an
  // entry: a counted entry of 0 at the end means the reply holds fewer
  // entries than the count announced.
  if (count != 0 && entries[count - 1] == 0) {
    Trace("link: the recording list holds fewer than the %u entries announced\n", count);
    return Fail(kErrorConnectionUnavail);
  }
  return 1;
}

int RecorderLink::MarkRecordingCopied(uint32_t entry) {
  uint8_t args[8];
  PutU32(args, entry);
  PutU32(args + 4, 1);
  return SimpleCommand(kGroupRecordings, kCodeMarkCopied, args, sizeof args);
}

int RecorderLink::GetCopiedMark(uint32_t entry, uint32_t& out) {
  uint8_t args[4];
  PutU32(args, entry);
  uint8_t value[4];
  if (!QueryCommand(kGroupRecordings, kCodeCopiedMark, kReplySmall, value, sizeof value, false, args,
                    sizeof args))
    return 0;
  out = GetU32(value);
  return 1;
}

int RecorderLink::WriteFirmwareData(const void* data, uint32_t length) {
  if (data == nullptr && length != 0) return Fail(kErrorInvalidParameter);
  ExchangeLock lock;
  if (!LockExchange(lock)) return 0;
  const auto* in = static_cast<const uint8_t*>(data);
  AlignedBuffer piece(kFirmwarePiece);
  for (uint64_t k = 0; k < length; k += kFirmwarePiece) {
    const size_t n = std::min<uint64_t>(kFirmwarePiece, length - k);
    std::memcpy(piece.data(), in + k, n);
    // A piece cut short would leave the recorder with a cut-off image.
    if (!transport_.BulkWriteWhole(piece.data(), kFirmwarePiece)) return Fail(kErrorConnectionUnavail);
  }
  return 1;
}

int RecorderLink::ReadFirmwareData(void* out, uint32_t length) {
  if (out == nullptr && length != 0) return Fail(kErrorInvalidParameter);
  ExchangeLock lock;
  if (!LockExchange(lock)) return 0;
  auto* dest = static_cast<uint8_t*>(out);
  AlignedBuffer piece(kFirmwarePiece);
  for (uint64_t k = 0; k < length; k += kFirmwarePiece) {
    if (!transport_.BulkReadWhole(piece.data(), kFirmwarePiece)) return Fail(kErrorConnectionUnavail);
    std::memcpy(dest + k, piece.data(), std::min<uint64_t>(kFirmwarePiece, length - k));
  }
  return 1;
}

}  // namespace lyr
