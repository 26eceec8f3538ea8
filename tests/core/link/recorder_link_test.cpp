// The command set against the in-process stand-in recorder.
#include "link/recorder_link.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

#include "link/link_commands.h"
#include "platform/byte_order.h"
#include "platform/last_error.h"
#include "support/emulated_recorder.h"
#include "support/spy_device.h"

namespace {

using namespace lyr;
using namespace lyr::protocol;
using lyr_test::EmulatedRecorder;
using lyr_test::SpyDevice;
using lyr_test::Transfer;

// A link whose transfers are logged on their way to the stand-in.
std::unique_ptr<RecorderLink> SpiedLink(EmulatedRecorder& rec, std::vector<Transfer>* log) {
  auto link = std::make_unique<RecorderLink>([&rec, log](const std::string&) {
    return RawDriveOpenResult(std::make_unique<SpyDevice>(rec.emulator().Connect(), log));
  });
  link->SetSettleDelay(std::chrono::milliseconds(0));
  EXPECT_EQ(link->OpenLink("stand-in"), 0);
  link->SetDriveOpen(true);
  EXPECT_EQ(link->Identify(), 1);
  EXPECT_EQ(link->RequestAccess(""), 1);
  log->clear();
  return link;
}

std::vector<Transfer> Reads(const std::vector<Transfer>& log) {
  std::vector<Transfer> r;
  for (const auto& t : log)
    if (!t.write) r.push_back(t);
  return r;
}

TEST(CommandSet, ReadRecordingDataAnnouncesLengthAndCachesLastPiece) {
  EmulatedRecorder rec;
  const uint32_t entry = rec.AddPcm("LYR0001", 200000);
  const auto data = rec.DataOf(entry);
  std::vector<Transfer> log;
  auto link = SpiedLink(rec, &log);

  std::vector<uint8_t> buf(65536);
  ASSERT_EQ(link->ReadRecordingData(entry, 0, 65536, buf.data()), 1);
  ASSERT_EQ(log.size(), 2u);
  ASSERT_TRUE(log[0].write);
  EXPECT_EQ(GetU16(&log[0].head[12]), 1);
  EXPECT_EQ(GetU16(&log[0].head[14]), 5);
  EXPECT_EQ(GetU32(&log[0].head[16]), entry);
  EXPECT_EQ(GetU32(&log[0].head[20]), 0u);
  EXPECT_EQ(GetU32(&log[0].head[28]), 131072u) << "an exact multiple of 64 KiB is announced 64 KiB larger";
  EXPECT_EQ(log[1].length, 65536u);
  EXPECT_TRUE(std::equal(buf.begin(), buf.end(), data.begin()));

  log.clear();
  std::vector<uint8_t> small(1000);
  ASSERT_EQ(link->ReadRecordingData(entry, 100, 1000, small.data()), 1);
  EXPECT_TRUE(log.empty()) << "served from the cache";
  EXPECT_TRUE(std::equal(small.begin(), small.end(), data.begin() + 100));

  // Ending exactly at the cached block's end goes to the recorder.
  ASSERT_EQ(link->ReadRecordingData(entry, 65536 - 1000, 1000, small.data()), 1);
  EXPECT_EQ(log.size(), 2u);
  EXPECT_TRUE(std::equal(small.begin(), small.end(), data.begin() + 65536 - 1000));
}

TEST(CommandSet, ReadRecordingDataInManyPiecesAndPastTheEnd) {
  EmulatedRecorder rec;
  const uint32_t size = 300000;
  const uint32_t entry = rec.AddPcm("LYR0001", size);
  const auto data = rec.DataOf(entry);
  auto link = rec.MakeLink();
  std::vector<uint8_t> buf(size - 1234);
  ASSERT_EQ(link->ReadRecordingData(entry, 1234, size - 1234, buf.data()), 1);
  EXPECT_TRUE(std::equal(buf.begin(), buf.end(), data.begin() + 1234));
  // The cache now holds the last piece: a read inside it costs no exchange.
  const uint64_t before = rec.emulator().stats().commands;
  uint8_t byte = 0;
  ASSERT_EQ(link->ReadRecordingData(entry, size - 10, 1, &byte), 1);
  EXPECT_EQ(byte, data[size - 10]);
  EXPECT_EQ(rec.emulator().stats().commands, before);
}

// Every command once, for the tables below.
struct Command {
  const char* name;
  std::function<int(RecorderLink&)> run;
};
std::vector<Command> EveryCommand() {
  static DeviceRecord device;
  static MemoryStatusRecord memory;
  static SettingsRecord settings;
  static FirmwareStatusRecord firmware;
  static RecordingRecordBytes record;
  static std::vector<uint8_t> data(4096);
  static std::vector<uint32_t> entries(128);
  static uint32_t value;
  static std::string text;
  return {
      {"Identify", [](RecorderLink& l) { return l.Identify(); }},
      {"GetDeviceInfo", [](RecorderLink& l) { return l.GetDeviceInfo(device); }},
      {"RequestAccess", [](RecorderLink& l) { return l.RequestAccess(""); }},
      {"ReleaseRecorder", [](RecorderLink& l) { return l.ReleaseRecorder(true); }},
      {"BeginFirmwareUpdate", [](RecorderLink& l) { return l.BeginFirmwareUpdate(4096); }},
      {"WriteSettings", [](RecorderLink& l) { return l.WriteSettings(settings); }},
      {"SetClock",
       [](RecorderLink& l) {
         return l.SetClock({2011, 8, 19, 10, 20, 37});
       }},
      {"ReadSettings", [](RecorderLink& l) { return l.ReadSettings(settings); }},
      {"BeginFirmwareReadback", [](RecorderLink& l) { return l.BeginFirmwareReadback(); }},
      {"GetFirmwareStatus", [](RecorderLink& l) { return l.GetFirmwareStatus(firmware); }},
      {"ResetFileCounter", [](RecorderLink& l) { return l.ResetFileCounter(); }},
      {"GetHighestIndex", [](RecorderLink& l) { return l.GetHighestIndex(value); }},
      {"GetRecorderText", [](RecorderLink& l) { return l.GetRecorderText(text); }},
      {"SetRecorderText", [](RecorderLink& l) { return l.SetRecorderText("x"); }},
      {"GetMemoryStatus", [](RecorderLink& l) { return l.GetMemoryStatus(memory); }},
      {"DeleteRecording", [](RecorderLink& l) { return l.DeleteRecording(1); }},
      {"FormatMemory", [](RecorderLink& l) { return l.FormatMemory(); }},
      {"GetRecordingInfo", [](RecorderLink& l) { return l.GetRecordingInfo(1, record); }},
      {"ReadRecordingData", [](RecorderLink& l) { return l.ReadRecordingData(1, 0, 4096, data.data()); }},
      {"ReadRecordingList", [](RecorderLink& l) { return l.ReadRecordingList(entries, 3); }},
      {"MarkRecordingCopied", [](RecorderLink& l) { return l.MarkRecordingCopied(1); }},
      {"GetCopiedMark", [](RecorderLink& l) { return l.GetCopiedMark(1, value); }},
      {"WriteFirmwareData", [](RecorderLink& l) { return l.WriteFirmwareData(data.data(), 4096); }},
      {"ReadFirmwareData", [](RecorderLink& l) { return l.ReadFirmwareData(data.data(), 4096); }},
  };
}

TEST(CommandSet, EveryFailureSetsTheLastError) {
  // No drive: every command that would exchange anything fails with 1201.
  EmulatedRecorder rec;
  rec.AddPcm("LYR0001", 4096);
  for (const Command& c : EveryCommand()) {
    auto closed = rec.MakeLink();
    closed->CloseDrive();
    SetLastError(42);
    EXPECT_EQ(c.run(*closed), 0) << c.name;
    EXPECT_EQ(GetLastError(), kErrorConnectionUnavail) << c.name;
  }

  // No access: the commands that need it fail with 1201 before any I/O.
  std::vector<Transfer> log;
  auto link = SpiedLink(rec, &log);
  link->SetAccessGranted(false);
  for (const Command& c : EveryCommand()) {
    const std::string name = c.name;
    if (name != "GetDeviceInfo" && name != "GetMemoryStatus" && name != "ReadSettings" &&
        name != "WriteSettings")
      continue;
    SetLastError(42);
    EXPECT_EQ(c.run(*link), 0) << c.name;
    EXPECT_EQ(GetLastError(), kErrorConnectionUnavail) << c.name;
  }
  EXPECT_TRUE(log.empty());

  // Arguments a command cannot carry: 87, and nothing is sent.
  link->SetAccessGranted(true);
  const struct {
    const char* name;
    std::function<int()> run;
  } bad[] = {
      {"RequestAccess with a text past the block",
       [&] { return link->RequestAccess(std::string(496, 'x')); }},
      {"ReadRecordingData into nothing", [&] { return link->ReadRecordingData(1, 0, 10, nullptr); }},
      {"WriteFirmwareData from nothing", [&] { return link->WriteFirmwareData(nullptr, 10); }},
      {"ReadFirmwareData into nothing", [&] { return link->ReadFirmwareData(nullptr, 10); }},
  };
  for (const auto& b : bad) {
    SetLastError(42);
    EXPECT_EQ(b.run(), 0) << b.name;
    EXPECT_EQ(GetLastError(), kErrorInvalidParameter) << b.name;
  }
  EXPECT_TRUE(log.empty());
  EXPECT_EQ(link->RequestAccess(std::string(495, 'x')), 1) << "495 characters and the NUL fit";
}

TEST(CommandSet, IdentifyAndAccess) {
  struct Case {
    const char* name;
    bool refused, locked;
    bool want_refused, want_granted;
  };
  const Case cases[] = {
      {"usable", false, false, false, true},
      {"refusal pattern", true, false, true, true},
      {"access locked", false, true, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EmulatedRecorder rec;
    rec.config().refused = c.refused;
    rec.config().access_locked = c.locked;
    auto link = rec.MakeLink(false);
    EXPECT_EQ(link->Identify(), 1);
    EXPECT_EQ(link->IsRecorderRefused(), c.want_refused);
    EXPECT_EQ(link->RequestAccess(""), 1);
    EXPECT_EQ(link->IsAccessGranted(), c.want_granted);
  }
}

TEST(CommandSet, RecorderRecords) {
  EmulatedRecorder rec;
  rec.config().firmware_version = 6021;
  rec.config().file_counter = 42;
  rec.AddPcm("LYR0001", 4096);
  rec.AddPcm("LYR0002", 8192);
  auto link = rec.MakeLink();

  DeviceRecord device{};
  ASSERT_EQ(link->GetDeviceInfo(device), 1);
  EXPECT_EQ(GetU16(&device[kDevFirmwareVersion]), 6021);
  MemoryStatusRecord memory{};
  ASSERT_EQ(link->GetMemoryStatus(memory), 1);
  EXPECT_EQ(GetU32(&memory[kMemListCount]), 2u);
  EXPECT_EQ(GetU32(&memory[kMemUnitSize]), 32768u);
  uint32_t highest = 0;
  ASSERT_EQ(link->GetHighestIndex(highest), 1);
  EXPECT_EQ(highest, 42u);
  ASSERT_EQ(link->ResetFileCounter(), 1);
  ASSERT_EQ(link->GetHighestIndex(highest), 1);
  EXPECT_EQ(highest, 0u);

  SettingsRecord settings{};
  ASSERT_EQ(link->ReadSettings(settings), 1);
  settings[92] = 'Q';
  ASSERT_EQ(link->WriteSettings(settings), 1);
  SettingsRecord again{};
  ASSERT_EQ(link->ReadSettings(again), 1);
  EXPECT_EQ(again, settings);

  RecordingRecordBytes record{};
  ASSERT_EQ(link->GetRecordingInfo(2, record), 1);
  EXPECT_EQ(GetU32(&record[0]), 8192u);
  EXPECT_EQ(GetU32(&record[12]), 2u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(&record[124])), "LYR0002");

  uint32_t mark = 9;
  ASSERT_EQ(link->GetCopiedMark(2, mark), 1);
  EXPECT_EQ(mark, 0u);
  ASSERT_EQ(link->MarkRecordingCopied(2), 1);
  ASSERT_EQ(link->GetCopiedMark(2, mark), 1);
  EXPECT_NE(mark, 0u);

  ASSERT_EQ(link->SetClock({2011, 8, 19, 10, 20, 37}), 1);
  ASSERT_EQ(link->GetDeviceInfo(device), 1);
  EXPECT_EQ(GetU16(&device[kDevClock]), 2011);
  EXPECT_EQ(GetU16(&device[kDevClock + 2]), 8);
}

// The programs' face of the command set: the values the commands read, and
// the command's last error as the code of each failure.
TEST(LinkCommands, ValuesAndTheCommandSetsLastError) {
  EmulatedRecorder rec;
  rec.config().firmware_version = 6021;
  rec.config().file_counter = 42;
  rec.AddPcm("LYR0001", 4096);
  auto link = rec.MakeLink();
  LinkCommands commands(*link);
  EXPECT_EQ(commands.GetHighestIndex().value(), 42u);
  EXPECT_EQ(GetU16(&commands.GetDeviceInfo().value()[kDevFirmwareVersion]), 6021);
  EXPECT_EQ(GetU32(&commands.GetRecordingInfo(1).value()[0]), 4096u);
  ASSERT_TRUE(commands.ResetFileCounter().ok());
  EXPECT_EQ(commands.GetHighestIndex().value(), 0u);

  RecorderLink closed;  // never opened
  LinkCommands none(closed);
  SetLastError(kErrorInvalidData);
  auto outcome = [](const auto& result) { return result.ok() ? Status{} : Status(result.error()); };
  const Status failures[] = {
      outcome(none.GetDeviceInfo()),     outcome(none.ReadSettings()),
      outcome(none.GetHighestIndex()),   outcome(none.GetRecorderText()),
      outcome(none.GetRecordingInfo(1)), none.SetClock({2011, 8, 19, 10, 20, 37}),
      none.ResetFileCounter(),
  };
  for (const Status& failed : failures) {
    ASSERT_FALSE(failed.ok());
    EXPECT_EQ(failed.error().code, kErrorConnectionUnavail) << failed.error().context;
  }
  const Status open = none.OpenLink("/nonexistent/lyr-disk");
  ASSERT_FALSE(open.ok());
  EXPECT_EQ(open.error().os_error, ENOENT);
}

TEST(CommandSet, RecordingListReadSizes) {
  for (const uint32_t count : {3u, 200u}) {
    SCOPED_TRACE(count);
    EmulatedRecorder rec;
    for (uint32_t i = 0; i < count; ++i) rec.AddPcm("R", 512);
    std::vector<Transfer> log;
    auto link = SpiedLink(rec, &log);
    std::vector<uint32_t> entries(RecorderLink::RecordingListCapacityFor(count));
    ASSERT_EQ(link->ReadRecordingList(entries, count), 1);
    const auto reads = Reads(log);
    ASSERT_EQ(reads.size(), 1u);
    EXPECT_EQ(reads[0].length, count == 3 ? 512u : 1024u);
    for (uint32_t i = 0; i < count; ++i) EXPECT_EQ(entries[i], i + 1);
  }
}

TEST(CommandSet, FirmwareDataInPiecesAndReadBack) {
  EmulatedRecorder rec;
  std::vector<Transfer> log;
  auto link = SpiedLink(rec, &log);
  std::vector<uint8_t> image = EmulatedRecorder::Pattern(5000, 7);
  ASSERT_EQ(link->BeginFirmwareUpdate(5000), 1);
  log.clear();
  ASSERT_EQ(link->WriteFirmwareData(image.data(), 5000), 1);
  ASSERT_EQ(log.size(), 3u);
  for (const auto& t : log) EXPECT_EQ(t.length, 2048u);

  FirmwareStatusRecord status{};
  ASSERT_EQ(link->GetFirmwareStatus(status), 1);
  EXPECT_EQ(GetU32(&status[0]), 5000u);
  ASSERT_EQ(link->BeginFirmwareReadback(), 1);
  std::vector<uint8_t> back(6144, 0xCC);
  for (uint32_t k = 0; k < 6144; k += 2048) ASSERT_EQ(link->ReadFirmwareData(back.data() + k, 2048), 1);
  EXPECT_TRUE(std::equal(image.begin(), image.end(), back.begin()));
  EXPECT_TRUE(std::all_of(back.begin() + 5000, back.end(), [](uint8_t b) { return b == 0; }));
}

// Passes transfers on to the stand-in. Armed, it moves only the first half
// of each one and fails it, as a drive that drops off midway does.
class HalfDevice final : public BlockDevice {
 public:
  HalfDevice(std::unique_ptr<BlockDevice> inner, const bool* armed)
      : inner_(std::move(inner)), armed_(armed) {}
  bool ReadAt(uint64_t offset, void* buffer, size_t length, size_t* done) override {
    if (!*armed_) return inner_->ReadAt(offset, buffer, length, done);
    inner_->ReadAt(offset, buffer, length / 2, done);
    return false;
  }
  bool WriteAt(uint64_t offset, const void* buffer, size_t length, size_t* done) override {
    if (!*armed_) return inner_->WriteAt(offset, buffer, length, done);
    inner_->WriteAt(offset, buffer, length / 2, done);
    return false;
  }

 private:
  std::unique_ptr<BlockDevice> inner_;
  const bool* armed_;
};

TEST(CommandSet, ShortFirmwarePiecesFail) {
  EmulatedRecorder rec;
  bool armed = false;
  RecorderLink link([&](const std::string&) {
    return RawDriveOpenResult(std::make_unique<HalfDevice>(rec.emulator().Connect(), &armed));
  });
  ASSERT_EQ(link.OpenLink("stand-in"), 0);
  std::vector<uint8_t> image = EmulatedRecorder::Pattern(4096, 3);
  ASSERT_EQ(link.BeginFirmwareUpdate(4096), 1);
  armed = true;
  SetLastError(0);
  EXPECT_EQ(link.WriteFirmwareData(image.data(), 4096), 0) << "a cut-off image is no update";
  EXPECT_EQ(GetLastError(), kErrorConnectionUnavail);

  armed = false;
  ASSERT_EQ(link.BeginFirmwareReadback(), 1);
  armed = true;
  SetLastError(0);
  EXPECT_EQ(link.ReadFirmwareData(image.data(), 2048), 0) << "half a piece leaves stale bytes";
  EXPECT_EQ(GetLastError(), kErrorConnectionUnavail);
}

// Passes transfers on to the stand-in. Armed, a read does not come back
// until the test lets it go, as a stand-in that stopped serving.
class StallingDevice final : public BlockDevice {
 public:
  struct Gate {
    std::mutex mutex;
    std::condition_variable cv;
    bool armed = false;
    bool stuck = false;
  };
  StallingDevice(std::unique_ptr<BlockDevice> inner, Gate* gate) : inner_(std::move(inner)), gate_(gate) {}
  bool ReadAt(uint64_t offset, void* buffer, size_t length, size_t* done) override {
    std::unique_lock lock(gate_->mutex);
    if (gate_->armed) {
      gate_->stuck = true;
      gate_->cv.notify_all();
      gate_->cv.wait(lock, [&] { return !gate_->armed; });
    }
    lock.unlock();
    return inner_->ReadAt(offset, buffer, length, done);
  }
  bool WriteAt(uint64_t offset, const void* buffer, size_t length, size_t* done) override {
    return inner_->WriteAt(offset, buffer, length, done);
  }

 private:
  std::unique_ptr<BlockDevice> inner_;
  Gate* gate_;
};

TEST(CommandSet, AReplyThatDoesNotComeWithinTheBoundFailsTheLink) {
  using Clock = std::chrono::steady_clock;
  EmulatedRecorder rec;
  StallingDevice::Gate gate;
  RecorderLink link([&](const std::string&) {
    return RawDriveOpenResult(std::make_unique<StallingDevice>(rec.emulator().Connect(), &gate));
  });
  link.SetSettleDelay(std::chrono::milliseconds(0));
  link.SetReplyBound(std::chrono::milliseconds(300));
  std::atomic<int> stalls{0};
  link.SetStallHandler([&] { ++stalls; });
  ASSERT_EQ(link.OpenLink("stand-in"), 0);
  link.SetDriveOpen(true);
  ASSERT_EQ(link.Identify(), 1);
  ASSERT_EQ(link.RequestAccess(""), 1);

  gate.armed = true;
  int stuck_result = -1;
  uint32_t stuck_error = 0;
  std::thread stuck([&] {
    RecordingRecordBytes record{};
    stuck_result = link.GetRecordingInfo(1, record);
    stuck_error = GetLastError();
  });
  {
    std::unique_lock lock(gate.mutex);
    gate.cv.wait(lock, [&] { return gate.stuck; });
  }
  // The watchdog tells at once, while the transfer is still stuck, and other
  // threads get 1201 instead of waiting behind it for the lock.
  const auto start = Clock::now();
  while (stalls == 0 && Clock::now() - start < std::chrono::seconds(5))
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(stalls, 1);
  SetLastError(0);
  std::string text;
  EXPECT_EQ(link.GetRecorderText(text), 0);
  EXPECT_EQ(GetLastError(), kErrorConnectionUnavail);
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(3));

  {
    std::lock_guard lock(gate.mutex);
    gate.armed = false;
  }
  gate.cv.notify_all();
  stuck.join();
  EXPECT_EQ(stuck_result, 0) << "a reply that came too late is no reply";
  EXPECT_EQ(stuck_error, kErrorConnectionUnavail);
  EXPECT_EQ(link.Identify(), 0) << "the link stays failed";
  EXPECT_EQ(stalls, 1);

  // Opened again, the link works.
  ASSERT_EQ(link.OpenLink("stand-in"), 0);
  EXPECT_EQ(link.Identify(), 1);
}

TEST(CommandSet, UntrustedReplies) {
  EmulatedRecorder rec;
  rec.config().recorder_text = std::string(3000, 'A');  // fills the reply, no NUL
  rec.config().list_count_override = true;
  rec.config().list_count_value = 4294967295u;
  auto link = rec.MakeLink();

  std::string text;
  ASSERT_EQ(link->GetRecorderText(text), 1);
  EXPECT_EQ(text, std::string(255, 'A'));

  MemoryStatusRecord memory{};
  ASSERT_EQ(link->GetMemoryStatus(memory), 1);
  const uint32_t count = GetU32(&memory[kMemListCount]);
  std::vector<uint32_t> entries(1024);
  const uint64_t before = rec.emulator().stats().commands;
  EXPECT_EQ(link->ReadRecordingList(entries, count), 0);
  EXPECT_EQ(GetLastError(), kErrorNotEnoughMemory);
  EXPECT_EQ(rec.emulator().stats().commands, before) << "nothing is sent for a list that cannot fit";
}

TEST(CommandSet, DisconnectMidwayFailsCleanly) {
  EmulatedRecorder rec;
  const uint32_t entry = rec.AddPcm("LYR0001", 300000);
  auto link = rec.MakeLink();
  rec.config().disconnect_after = rec.emulator().stats().commands + 1;
  std::vector<uint8_t> buf(300000);
  ASSERT_EQ(link->ReadRecordingData(entry, 0, 1000, buf.data()), 1);
  SetLastError(0);
  EXPECT_EQ(link->ReadRecordingData(entry, 100000, 100000, buf.data()), 0);
  EXPECT_EQ(GetLastError(), kErrorConnectionUnavail);
  DeviceRecord device{};
  EXPECT_EQ(link->Identify(), 0);
  EXPECT_TRUE(link->IsRecorderRefused());
  EXPECT_EQ(link->GetDeviceInfo(device), 0);
}

TEST(CommandSet, ShortDataPieceFailsAndLeavesNoStaleCache) {
  EmulatedRecorder rec;
  const uint32_t entry = rec.AddPcm("LYR0001", 300000);
  const auto data = rec.DataOf(entry);
  auto link = rec.MakeLink();
  std::vector<uint8_t> buf(200000);
  ASSERT_EQ(link->ReadRecordingData(entry, 0, 1000, buf.data()), 1);
  rec.config().read_fail_offset = 150000;
  EXPECT_EQ(link->ReadRecordingData(entry, 0, 200000, buf.data()), 0);
  EXPECT_EQ(GetLastError(), kErrorConnectionUnavail);
  rec.config().read_fail_offset = -1;
  uint8_t byte = 0;
  ASSERT_EQ(link->ReadRecordingData(entry, 10, 1, &byte), 1);
  EXPECT_EQ(byte, data[10]);
}

TEST(CommandSet, ExchangesFromSeveralThreadsDoNotInterleave) {
  EmulatedRecorder rec;
  const uint32_t a = rec.AddPcm("A", 1 << 20);
  const uint32_t b = rec.AddPcm("B", 1 << 20);
  auto link = rec.MakeLink();
  auto worker = [&](uint32_t entry, bool* ok) {
    const auto data = rec.DataOf(entry);
    std::vector<uint8_t> buf(3000);
    *ok = true;
    for (uint32_t off = 0; off + 3000 <= (1u << 20); off += 70001) {
      if (link->ReadRecordingData(entry, off, 3000, buf.data()) != 1 ||
          !std::equal(buf.begin(), buf.end(), data.begin() + off))
        *ok = false;
      RecordingRecordBytes record{};
      if (link->GetRecordingInfo(entry, record) != 1 || GetU32(&record[12]) != entry) *ok = false;
    }
  };
  bool ok_a = false, ok_b = false;
  std::thread ta(worker, a, &ok_a), tb(worker, b, &ok_b);
  ta.join();
  tb.join();
  EXPECT_TRUE(ok_a);
  EXPECT_TRUE(ok_b);
}

TEST(CommandSet, ReleaseClearsFlagsAndSendsOnlyWhenAsked) {
  EmulatedRecorder rec;
  std::vector<Transfer> log;
  auto link = SpiedLink(rec, &log);
  EXPECT_EQ(link->ReleaseRecorder(false), 1);
  EXPECT_TRUE(log.empty());
  EXPECT_FALSE(link->IsDriveOpen());
  EXPECT_FALSE(link->IsAccessGranted());
  EXPECT_TRUE(link->IsRecorderRefused());
  EXPECT_EQ(link->ReleaseRecorder(true), 1);
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(GetU16(&log[0].head[14]), 3);
}

}  // namespace
