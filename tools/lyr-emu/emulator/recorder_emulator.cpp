#include "emulator/recorder_emulator.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <ctime>
#include <iterator>
#include <sstream>

#include "link/protocol.h"
#include "link/sector_transport.h"
#include "platform/byte_order.h"
#include "recordings/recording_record.h"

namespace lyr_emu {

using namespace lyr::protocol;
using lyr::GetU16;
using lyr::GetU32;
using lyr::PutU16;
using lyr::PutU32;

namespace {

class EmulatorDevice final : public lyr::BlockDevice {
 public:
  explicit EmulatorDevice(RecorderEmulator& emulator) : emulator_(emulator) {}
  bool ReadAt(uint64_t offset, void* buffer, size_t length, size_t* done) override {
    return emulator_.Read(offset, buffer, length, done);
  }
  bool WriteAt(uint64_t offset, const void* buffer, size_t length, size_t* done) override {
    return emulator_.Write(offset, buffer, length, done);
  }

 private:
  RecorderEmulator& emulator_;
};

uint32_t NextSector(uint32_t sector) { return sector + 1 >= kWindowEnd ? kWindowStart : sector + 1; }

bool PreadAll(int fd, uint64_t offset, uint8_t* out, size_t length) {
  size_t total = 0;
  while (total < length) {
    const ssize_t n = ::pread(fd, out + total, length - total, static_cast<off_t>(offset + total));
    if (n <= 0) break;
    total += static_cast<size_t>(n);
  }
  return total == length;
}

}  // namespace

RecorderEmulator::RecorderEmulator(RecorderStore& store) : store_(store) {}

RecorderEmulator::~RecorderEmulator() { CloseDataFile(); }

void RecorderEmulator::CloseDataFile() {
  if (data_fd_ >= 0) ::close(data_fd_);
  data_fd_ = -1;
  data_fd_entry_ = 0;
}

int RecorderEmulator::DataFile(const StoredRecording& rec) {
  if (data_fd_ >= 0 && data_fd_entry_ == rec.entry) return data_fd_;
  CloseDataFile();
  data_fd_ = ::open(rec.data_path.c_str(), O_RDONLY | O_CLOEXEC);
  if (data_fd_ >= 0) data_fd_entry_ = rec.entry;
  return data_fd_;
}

std::unique_ptr<lyr::BlockDevice> RecorderEmulator::Connect() {
  return std::make_unique<EmulatorDevice>(*this);
}

void RecorderEmulator::SetConnected(bool connected) {
  {
    std::lock_guard wake_lock(wake_mutex_);
    connected_ = connected;
  }
  wake_.notify_all();
  std::lock_guard lock(mutex_);
  region_ = Region{};
}

void RecorderEmulator::Shutdown() {
  {
    std::lock_guard wake_lock(wake_mutex_);
    stopped_ = true;
  }
  wake_.notify_all();
}

ExchangeStats RecorderEmulator::stats() const {
  std::lock_guard lock(mutex_);
  return stats_;
}

std::string RecorderEmulator::StatsText() const {
  const ExchangeStats s = stats();
  std::ostringstream out;
  out << "commands: " << s.commands << "\n"
      << "refused blocks: " << s.refused_blocks << "\n"
      << "stray writes: " << s.stray_writes << "\n"
      << "sectors read: " << s.sectors_read << "\n"
      << "sectors written: " << s.sectors_written << "\n"
      << "failed transfers: " << s.failed_transfers << "\n"
      << "recording data bytes served: " << s.data_bytes_served << "\n";
  return out.str();
}

int64_t RecorderEmulator::RegionOffset(uint32_t sector) const {
  if (region_.kind == RegionKind::None || sector < kWindowStart || sector >= kWindowEnd) return -1;
  uint64_t index;
  if (sector >= region_.start_sector) {
    index = sector - region_.start_sector;
  } else {
    index = static_cast<uint64_t>(kWindowEnd - region_.start_sector) + (sector - kWindowStart);
  }
  const uint64_t byte = index * kSectorSize;
  return byte < region_.length ? static_cast<int64_t>(byte) : -1;
}

bool RecorderEmulator::Read(uint64_t offset, void* buffer, size_t length, size_t* done) {
  *done = 0;
  std::lock_guard lock(mutex_);
  if (!connected_ || stopped_ || offset % kSectorSize != 0 || length % kSectorSize != 0) {
    ++stats_.failed_transfers;
    return false;
  }
  auto* out = static_cast<uint8_t*>(buffer);
  uint64_t sector = offset / kSectorSize;
  size_t pos = 0;
  while (pos < length) {
    // Contiguous run of sectors inside the region (reads never cross the
    // window end: the PC splits them there).
    const int64_t at = sector < kWindowEnd ? RegionOffset(static_cast<uint32_t>(sector)) : -1;
    if (at < 0) {
      std::memset(out + pos, 0, kSectorSize);
      pos += kSectorSize;
      ++sector;
      continue;
    }
    const size_t run =
        static_cast<size_t>(std::min<uint64_t>(length - pos, region_.length - static_cast<uint64_t>(at)) /
                            kSectorSize * kSectorSize);
    const size_t take = std::max<size_t>(run, kSectorSize);
    if (!ReadRegion(static_cast<uint32_t>(sector), out + pos, take)) {
      ++stats_.failed_transfers;
      return false;
    }
    pos += take;
    sector += take / kSectorSize;
  }
  stats_.sectors_read += length / kSectorSize;
  *done = length;
  return true;
}

bool RecorderEmulator::ReadRegion(uint32_t sector, uint8_t* out, size_t length) {
  const uint64_t at = static_cast<uint64_t>(RegionOffset(sector));
  const uint64_t avail = region_.length - at;
  const size_t inside = static_cast<size_t>(std::min<uint64_t>(length, avail));
  switch (region_.kind) {
    case RegionKind::Reply:
    case RegionKind::FirmwareSink: {
      const size_t have = at < region_.bytes.size() ? std::min(inside, region_.bytes.size() - at) : 0;
      if (have) std::memcpy(out, region_.bytes.data() + at, have);
      std::memset(out + have, 0, length - have);
      return true;
    }
    case RegionKind::RecordingData:
      return ReadRecordingData(region_.data_offset + at, inside, out, length);
    case RegionKind::None:
      break;
  }
  std::memset(out, 0, length);
  return true;
}

// `length` bytes of recording data from offset `at`, of which the region
// covers `inside` (the rest is zeros).
bool RecorderEmulator::ReadRecordingData(uint64_t at, size_t inside, uint8_t* out, size_t length) {
  const int64_t fail_at = store_.config().read_fail_offset;
  if (fail_at >= 0 && at + inside > static_cast<uint64_t>(fail_at)) return false;
  const StoredRecording* rec = store_.Find(region_.entry);
  size_t have = 0;
  if (rec != nullptr) {
    // Audio the record promises but the store does not hold fails like a
    // worn-out block would: zeros would pass for the recording.
    const uint64_t promised = GetU32(rec->record.data() + lyr::record::kDataSize);
    if (std::max(at, rec->data_size) < std::min(at + inside, promised)) return false;
    if (at < rec->data_size) {
      have = static_cast<size_t>(std::min<uint64_t>(inside, rec->data_size - at));
      const int fd = DataFile(*rec);
      if (fd < 0 || !PreadAll(fd, at, out, have)) return false;
    }
  }
  std::memset(out + have, 0, length - have);
  stats_.data_bytes_served += have;
  return true;
}

bool RecorderEmulator::Write(uint64_t offset, const void* buffer, size_t length, size_t* done) {
  *done = 0;
  std::lock_guard lock(mutex_);
  if (!connected_ || stopped_ || offset % kSectorSize != 0 || length % kSectorSize != 0) {
    ++stats_.failed_transfers;
    return false;
  }
  const auto* in = static_cast<const uint8_t*>(buffer);
  const uint64_t first = offset / kSectorSize;
  for (size_t pos = 0; pos < length; pos += kSectorSize) {
    const uint64_t sector = first + pos / kSectorSize;
    const bool answered = sector >= kWindowEnd || WriteSector(static_cast<uint32_t>(sector), in + pos);
    ++stats_.sectors_written;
    if (!answered || !connected_) {  // the link dropped, or the recorder stopped, instead of answering
      ++stats_.failed_transfers;
      return false;
    }
  }
  *done = length;
  return true;
}

bool RecorderEmulator::WriteSector(uint32_t sector, const uint8_t* data) {
  // Firmware image pieces go to the open sink.
  if (region_.kind == RegionKind::FirmwareSink) {
    const int64_t at = RegionOffset(sector);
    if (at >= 0) {
      // An injected fault: this piece never reaches the recorder's memory.
      const uint32_t fail_piece = store_.config().firmware_write_fail_piece;
      if (fail_piece != 0 && static_cast<uint64_t>(at) / kFirmwarePiece + 1 == fail_piece) {
        region_ = Region{};
        return false;
      }
      // A slow recorder is slow at taking each piece too.
      if (at % kFirmwarePiece == 0 && !DelayReply()) return false;
      std::memcpy(region_.bytes.data() + at, data, kSectorSize);
      if (static_cast<uint64_t>(at) + kSectorSize >= region_.length) {
        std::vector<uint8_t> image(region_.bytes.begin(), region_.bytes.begin() + firmware_expected_);
        store_.SaveFirmware(std::move(image));
        region_ = Region{};
      }
      return true;
    }
  }
  if (GetU32(data + kOffTag) != kBlockTag) {
    ++stats_.stray_writes;
    return true;
  }
  // The checksum covers the block with its own field still zero.
  uint8_t copy[kBlockSize];
  std::memcpy(copy, data, kBlockSize);
  PutU32(copy + kOffChecksum, 0);
  if (lyr::BlockChecksum(copy, kBlockSize) != GetU32(data + kOffChecksum) ||
      GetU32(data + kOffPosition) != sector) {
    // A block we cannot trust is not run; the PC then reads no reply.
    ++stats_.refused_blocks;
    region_ = Region{};
    return true;
  }
  return RunCommand(sector, data);
}

void RecorderEmulator::SetReply(uint32_t sector, std::vector<uint8_t> bytes) {
  region_ = Region{};
  region_.kind = RegionKind::Reply;
  region_.start_sector = NextSector(sector);
  region_.length = (bytes.size() + kSectorSize - 1) / kSectorSize * kSectorSize;
  region_.bytes = std::move(bytes);
}

const RecorderEmulator::Command* RecorderEmulator::FindCommand(uint16_t group, uint16_t code) {
  using R = RecorderEmulator;
  // Sorted by group and code, for the lookup below.
  static constexpr Command kCommands[] = {
      {kGroupRecorder, kCodeDeviceInfo, &R::DeviceInfo},
      {kGroupRecorder, kCodeRequestAccess, &R::Acknowledge},
      {kGroupRecorder, kCodeRelease, &R::Acknowledge},
      {kGroupRecorder, kCodeBeginFirmwareUpdate, &R::BeginFirmwareUpdate},
      {kGroupRecorder, kCodeHello, &R::Acknowledge},
      {kGroupRecorder, kCodeWriteSettings, &R::WriteSettings},
      {kGroupRecorder, kCodeSetClock, &R::SetClock},
      {kGroupRecorder, kCodeReadSettings, &R::ReadSettings},
      {kGroupRecorder, kCodeBeginFirmwareReadback, &R::BeginFirmwareReadback},
      {kGroupRecorder, kCodeFirmwareStatus, &R::FirmwareStatus},
      {kGroupRecorder, kCodeResetFileCounter, &R::ResetFileCounter},
      {kGroupRecorder, kCodeHighestIndex, &R::HighestIndex},
      {kGroupRecorder, kCodeGetRecorderText, &R::GetRecorderText},
      {kGroupRecorder, kCodeSetRecorderText, &R::SetRecorderText},
      {kGroupRecordings, kCodeMemoryStatus, &R::MemoryStatus},
      {kGroupRecordings, kCodeDelete, &R::DeleteRecording},
      {kGroupRecordings, kCodeFormat, &R::FormatMemory},
      {kGroupRecordings, kCodeRecordingInfo, &R::RecordingInfo},
      {kGroupRecordings, kCodeReadData, &R::ReadData},
      {kGroupRecordings, kCodeRecordingList, &R::RecordingList},
      {kGroupRecordings, kCodeMarkCopied, &R::MarkCopied},
      {kGroupRecordings, kCodeCopiedMark, &R::CopiedMark},
  };
  constexpr auto kBefore = [](const Command& a, const Command& b) {
    return a.group != b.group ? a.group < b.group : a.code < b.code;
  };
  static_assert(std::is_sorted(std::begin(kCommands), std::end(kCommands), kBefore));
  const Command key{group, code, nullptr};
  const Command* it = std::lower_bound(std::begin(kCommands), std::end(kCommands), key, kBefore);
  return it != std::end(kCommands) && it->group == group && it->code == code ? it : nullptr;
}

bool RecorderEmulator::DelayReply() {
  const uint32_t ms = store_.config().slow_reply_ms;
  std::unique_lock wake_lock(wake_mutex_);
  const auto gone = [this] { return stopped_ || !connected_; };
  if (ms > 0) wake_.wait_for(wake_lock, std::chrono::milliseconds(ms), gone);
  return !gone();
}

bool RecorderEmulator::RunCommand(uint32_t sector, const uint8_t* block) {
  const RecorderConfig& c = store_.config();
  ++stats_.commands;
  region_ = Region{};
  if (!DelayReply()) return false;
  if (c.disconnect_after != 0 && stats_.commands > c.disconnect_after) {
    connected_ = false;
    return false;
  }
  if (const Command* command = FindCommand(GetU16(block + kOffGroup), GetU16(block + kOffCode)))
    (this->*command->run)(sector, block + kOffArgs);
  return true;
}

void RecorderEmulator::DeviceInfo(uint32_t sector, const uint8_t* /*args*/) {
  const RecorderConfig& c = store_.config();
  std::vector<uint8_t> r(kReplySmall, 0);
  std::memcpy(r.data(), "LYR", 3);
  PutU16(&r[kDevFirmwareVersion], c.firmware_version);
  PutU16(&r[kDevHardwareMcu], c.hardware_mcu);
  const std::time_t now = std::time(nullptr) + c.clock_offset_seconds;
  std::tm tm{};
  localtime_r(&now, &tm);
  const uint16_t clock[6] = {static_cast<uint16_t>(tm.tm_year + 1900), static_cast<uint16_t>(tm.tm_mon + 1),
                             static_cast<uint16_t>(tm.tm_mday),        static_cast<uint16_t>(tm.tm_hour),
                             static_cast<uint16_t>(tm.tm_min),         static_cast<uint16_t>(tm.tm_sec)};
  for (int i = 0; i < 6; ++i) PutU16(&r[kDevClock + 2 * i], clock[i]);
  if (c.refused) {
    PutU16(&r[kDevStatus], kRefusalPattern);
    PutU16(&r[kDevStatus2], 0);
  } else {
    PutU16(&r[kDevStatus], c.access_locked ? 1 : 0);
    PutU16(&r[kDevStatus2], 1);
  }
  SetReply(sector, std::move(r));
}

// Commands the recorder takes without a reply or a change the stand-in keeps.
void RecorderEmulator::Acknowledge(uint32_t /*sector*/, const uint8_t* /*args*/) {}

void RecorderEmulator::BeginFirmwareUpdate(uint32_t sector, const uint8_t* args) {
  firmware_expected_ = std::min<uint32_t>(GetU32(args), 16u << 20);
  region_.kind = RegionKind::FirmwareSink;
  region_.start_sector = NextSector(sector);
  region_.length =
      (static_cast<uint64_t>(firmware_expected_) + kFirmwarePiece - 1) / kFirmwarePiece * kFirmwarePiece;
  region_.bytes.assign(region_.length, 0);
  if (region_.length == 0) region_ = Region{};
}

void RecorderEmulator::WriteSettings(uint32_t /*sector*/, const uint8_t* args) {
  std::memcpy(store_.settings().data(), args, kSettingsRecordSize);
  store_.SaveSettings();
}

void RecorderEmulator::SetClock(uint32_t /*sector*/, const uint8_t* args) {
  std::tm tm{};
  tm.tm_year = GetU16(args) - 1900;
  tm.tm_mon = GetU16(args + 2) - 1;
  tm.tm_mday = GetU16(args + 4);
  tm.tm_hour = GetU16(args + 6);
  tm.tm_min = GetU16(args + 8);
  tm.tm_sec = GetU16(args + 10);
  tm.tm_isdst = -1;
  const std::time_t wanted = std::mktime(&tm);
  if (wanted == static_cast<std::time_t>(-1)) return;
  store_.config().clock_offset_seconds =
      static_cast<int64_t>(wanted) - static_cast<int64_t>(std::time(nullptr));
  (void)store_.SaveConfig();  // the recorder answers whether or not its settings reach the disk
}

void RecorderEmulator::ReadSettings(uint32_t sector, const uint8_t* /*args*/) {
  std::vector<uint8_t> r(kReplySmall, 0);
  std::memcpy(r.data(), store_.settings().data(), kSettingsRecordSize);
  SetReply(sector, std::move(r));
}

void RecorderEmulator::BeginFirmwareReadback(uint32_t sector, const uint8_t* /*args*/) {
  std::vector<uint8_t> image = store_.firmware();
  image.resize((image.size() + kFirmwarePiece - 1) / kFirmwarePiece * kFirmwarePiece, 0);
  // An injected fault: one piece comes back changed.
  const uint64_t bad_piece = store_.config().firmware_readback_bad_piece;
  if (bad_piece != 0 && bad_piece * kFirmwarePiece <= image.size())
    image[(bad_piece - 1) * kFirmwarePiece + 17] ^= 0x40;
  SetReply(sector, std::move(image));
}

void RecorderEmulator::FirmwareStatus(uint32_t sector, const uint8_t* /*args*/) {
  std::vector<uint8_t> r(kReplySmall, 0);
  // An injected fault may report a read-back length other than the image's.
  const int64_t length =
      static_cast<int64_t>(store_.firmware().size()) + store_.config().firmware_status_length_delta;
  PutU32(r.data(), static_cast<uint32_t>(std::max<int64_t>(length, 0)));
  SetReply(sector, std::move(r));
}

void RecorderEmulator::ResetFileCounter(uint32_t /*sector*/, const uint8_t* /*args*/) {
  store_.config().file_counter = 0;
  (void)store_.SaveConfig();  // the recorder answers whether or not its settings reach the disk
}

void RecorderEmulator::HighestIndex(uint32_t sector, const uint8_t* /*args*/) {
  std::vector<uint8_t> r(kReplySmall, 0);
  PutU32(r.data(), store_.config().file_counter);
  SetReply(sector, std::move(r));
}

void RecorderEmulator::GetRecorderText(uint32_t sector, const uint8_t* /*args*/) {
  const std::string& text = store_.config().recorder_text;
  std::vector<uint8_t> r(kReplyRecorderText, 0);
  std::memcpy(r.data(), text.data(), std::min(text.size(), r.size()));
  SetReply(sector, std::move(r));
}

void RecorderEmulator::SetRecorderText(uint32_t /*sector*/, const uint8_t* args) {
  const auto* text = reinterpret_cast<const char*>(args);
  store_.config().recorder_text.assign(text, strnlen(text, 256));
  (void)store_.SaveConfig();  // the recorder answers whether or not its settings reach the disk
}

void RecorderEmulator::MemoryStatus(uint32_t sector, const uint8_t* /*args*/) {
  const RecorderConfig& c = store_.config();
  std::vector<uint8_t> r(kReplySmall, 0);
  const uint64_t unit = std::max<uint32_t>(c.unit_size, 1);
  // Each recording takes whole allocation units.
  uint64_t used_units = 0;
  for (const auto& [e, rec] : store_.recordings()) used_units += (rec.data_size + unit - 1) / unit;
  const uint32_t free_units =
      used_units >= c.memory_units ? 0 : static_cast<uint32_t>(c.memory_units - used_units);
  PutU32(&r[kMemLastOpFailed], delete_failed_ ? 1 : 0);
  bool busy = false;
  if (delete_busy_left_ != 0) {
    busy = true;
    if (delete_busy_left_ > 0) --delete_busy_left_;
  }
  PutU16(&r[kMemBusy], busy ? 1 : 0);
  PutU32(&r[kMemSizeUnits], c.memory_units);
  PutU32(&r[kMemUnitSize], c.unit_size);
  PutU32(&r[kMemFreeUnits], free_units);
  PutU32(&r[kMemListCapacity], c.list_capacity);
  const uint32_t count =
      c.list_count_override ? c.list_count_value : static_cast<uint32_t>(store_.recordings().size());
  PutU32(&r[kMemListCount], count);
  SetReply(sector, std::move(r));
}

void RecorderEmulator::DeleteRecording(uint32_t /*sector*/, const uint8_t* args) {
  const RecorderConfig& c = store_.config();
  if (c.delete_fails) {
    delete_failed_ = true;
    delete_busy_left_ = 0;
    return;
  }
  delete_failed_ = false;
  delete_busy_left_ = c.delete_busy_polls;
  if (c.delete_busy_polls >= 0) {
    CloseDataFile();
    store_.RemoveRecording(GetU32(args));
  }
}

void RecorderEmulator::FormatMemory(uint32_t /*sector*/, const uint8_t* /*args*/) {
  CloseDataFile();
  store_.RemoveAllRecordings();
}

void RecorderEmulator::RecordingInfo(uint32_t sector, const uint8_t* args) {
  ++stats_.recording_info_reads;
  std::vector<uint8_t> r(kReplyRecordingInfo, 0);
  if (const StoredRecording* rec = store_.Find(GetU32(args)))
    std::memcpy(r.data(), rec->record.data(), rec->record.size());
  SetReply(sector, std::move(r));
}

void RecorderEmulator::ReadData(uint32_t sector, const uint8_t* args) {
  region_.kind = RegionKind::RecordingData;
  region_.start_sector = NextSector(sector);
  region_.length = GetU32(args + 12);
  region_.entry = GetU32(args);
  region_.data_offset = GetU32(args + 4);
}

void RecorderEmulator::RecordingList(uint32_t sector, const uint8_t* /*args*/) {
  std::vector<uint8_t> r;
  for (const auto& [e, rec] : store_.recordings()) {
    uint8_t le[4];
    PutU32(le, e);
    r.insert(r.end(), le, le + 4);
  }
  r.resize(std::max<size_t>(kSectorSize, (r.size() + kSectorSize - 1) / kSectorSize * kSectorSize), 0);
  SetReply(sector, std::move(r));
}

void RecorderEmulator::MarkCopied(uint32_t /*sector*/, const uint8_t* args) {
  store_.SetCopied(GetU32(args), GetU32(args + 4) != 0);
}

void RecorderEmulator::CopiedMark(uint32_t sector, const uint8_t* args) {
  std::vector<uint8_t> r(kReplySmall, 0);
  const StoredRecording* rec = store_.Find(GetU32(args));
  PutU32(r.data(), rec != nullptr && rec->copied ? 1 : 0);
  SetReply(sector, std::move(r));
}

}  // namespace lyr_emu
