// The stand-in recorder's own rules: it answers only trustworthy blocks,
// takes only settings it can honour, never serves audio it does not hold, and
// lets go of a delayed reply when it is stopped or unplugged.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <initializer_list>
#include <nlohmann/json.hpp>
#include <utility>

#include "emulator/recorder_emulator.h"
#include "emulator/recorder_store.h"
#include "link/protocol.h"
#include "link/sector_transport.h"
#include "platform/byte_order.h"
#include "support/emulated_recorder.h"
#include "support/temp_dir.h"

namespace {

using namespace lyr;
using namespace lyr::protocol;

// A command block as the PC writes it at `sector`, arguments from offset 16.
std::vector<uint8_t> CommandBlock(uint32_t sector, uint16_t group, uint16_t code,
                                  std::initializer_list<uint32_t> args = {}) {
  std::vector<uint8_t> b(512, 0);
  PutU32(&b[0], kBlockTag);
  PutU32(&b[4], sector);
  PutU16(&b[12], group);
  PutU16(&b[14], code);
  size_t at = 16;
  for (uint32_t a : args) PutU32(&b[std::exchange(at, at + 4)], a);
  PutU32(&b[8], BlockChecksum(b.data(), 512));
  return b;
}

std::vector<uint8_t> DeviceInfoBlock(uint32_t sector) { return CommandBlock(sector, 0, 0); }

TEST(StandIn, AnswersOnlyBlocksWithRightChecksumAndPosition) {
  lyr_test::EmulatedRecorder rec;
  rec.config().firmware_version = 6100;
  auto& emu = rec.emulator();
  struct Case {
    const char* name;
    std::function<void(std::vector<uint8_t>&)> spoil;
    bool answered;
  };
  const Case cases[] = {
      {"good block", [](std::vector<uint8_t>&) {}, true},
      {"bad checksum", [](std::vector<uint8_t>& b) { b[8] ^= 1; }, false},
      {"wrong position",
       [](std::vector<uint8_t>& b) {
         PutU32(&b[4], 5000);
         PutU32(&b[8], 0);
         PutU32(&b[8], BlockChecksum(b.data(), 512));
       },
       false},
  };
  uint32_t sector = 4000;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const uint64_t refused_before = emu.stats().refused_blocks;
    auto block = DeviceInfoBlock(sector);
    c.spoil(block);
    size_t done = 0;
    ASSERT_TRUE(emu.Write(uint64_t{sector} * 512, block.data(), 512, &done));
    std::vector<uint8_t> reply(512, 0xFF);
    ASSERT_TRUE(emu.Read(uint64_t{sector + 1} * 512, reply.data(), 512, &done));
    EXPECT_EQ(GetU16(&reply[kDevFirmwareVersion]), c.answered ? 6100 : 0);
    EXPECT_EQ(emu.stats().refused_blocks, refused_before + (c.answered ? 0 : 1));
    sector += 10;
  }
}

TEST(StandIn, ReplyFollowsTheWindowWrap) {
  lyr_test::EmulatedRecorder rec;
  rec.config().firmware_version = 6100;
  auto& emu = rec.emulator();
  const uint32_t last = kWindowEnd - 1;
  auto block = DeviceInfoBlock(last);
  size_t done = 0;
  ASSERT_TRUE(emu.Write(uint64_t{last} * 512, block.data(), 512, &done));
  std::vector<uint8_t> reply(512);
  ASSERT_TRUE(emu.Read(uint64_t{kWindowStart} * 512, reply.data(), 512, &done));
  EXPECT_EQ(GetU16(&reply[kDevFirmwareVersion]), 6100);
}

TEST(StandIn, UnpluggedFailsEveryTransfer) {
  lyr_test::EmulatedRecorder rec;
  rec.emulator().SetConnected(false);
  std::vector<uint8_t> buf(512);
  size_t done = 0;
  EXPECT_FALSE(rec.emulator().Read(4096 * 512, buf.data(), 512, &done));
  EXPECT_FALSE(rec.emulator().Write(4096 * 512, buf.data(), 512, &done));
}

using json = nlohmann::json;
namespace fs = std::filesystem;

TEST(StandInStore, TakesOnlySettingsItCanHonour) {
  struct Case {
    const char* name;
    std::function<void(json&)> edit;
    const char* key;  // named in the error; nullptr: accepted
  };
  const Case cases[] = {
      {"defaults", [](json&) {}, nullptr},
      {"never failing reads", [](json& j) { j["faults"]["read_fail_offset"] = -1; }, nullptr},
      {"delete busy forever", [](json& j) { j["faults"]["delete_busy_polls"] = -1; }, nullptr},
      {"longest delay", [](json& j) { j["faults"]["slow_reply_ms"] = 60000; }, nullptr},
      {"negative delay", [](json& j) { j["faults"]["slow_reply_ms"] = -1; }, "faults.slow_reply_ms"},
      {"delay of days", [](json& j) { j["faults"]["slow_reply_ms"] = 4294967295u; }, "faults.slow_reply_ms"},
      {"fractional delay", [](json& j) { j["faults"]["slow_reply_ms"] = 2.5; }, "faults.slow_reply_ms"},
      {"delay as text", [](json& j) { j["faults"]["slow_reply_ms"] = "100"; }, "faults.slow_reply_ms"},
      {"read fail below -1", [](json& j) { j["faults"]["read_fail_offset"] = -2; },
       "faults.read_fail_offset"},
      {"busy polls below -1", [](json& j) { j["faults"]["delete_busy_polls"] = -5; },
       "faults.delete_busy_polls"},
      {"negative disconnect", [](json& j) { j["faults"]["disconnect_after"] = -1; },
       "faults.disconnect_after"},
      {"flag as number", [](json& j) { j["faults"]["delete_fails"] = 1; }, "faults.delete_fails"},
      {"list count above u32", [](json& j) { j["faults"]["list_count_value"] = 1ll << 32; },
       "faults.list_count_value"},
      {"firmware above u16", [](json& j) { j["firmware_version"] = 70000; }, "firmware_version"},
      {"prefix longer than 8", [](json& j) { j["file_prefix"] = "RECORDING"; }, "file_prefix"},
      {"text as number", [](json& j) { j["recorder_text"] = 5; }, "recorder_text"},
      {"clock a million years off", [](json& j) { j["clock_offset_seconds"] = 31557600000000ll; },
       "clock_offset_seconds"},
      {"misspelt fault", [](json& j) { j["faults"]["slow_reply"] = 100; }, "faults.slow_reply"},
      {"faults not an object", [](json& j) { j["faults"] = 3; }, "faults"},
      {"not an object", [](json& j) { j = json::array(); }, "recorder.json"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    lyr_test::TempDir dir;
    const fs::path store = dir / "store";
    const auto created = lyr_emu::RecorderStore::Create(store);
    ASSERT_TRUE(created) << created.error().context;
    json j = json::parse(std::ifstream(store / "recorder.json"));
    c.edit(j);
    std::ofstream(store / "recorder.json") << j.dump(2);
    const auto opened = lyr_emu::RecorderStore::Open(store);
    if (c.key == nullptr) {
      EXPECT_TRUE(opened) << opened.error().context;
      continue;
    }
    EXPECT_FALSE(opened);
    const std::string error = opened ? std::string() : opened.error().context;
    EXPECT_NE(error.find(c.key), std::string::npos) << error;
    EXPECT_NE(error.find((store / "recorder.json").string()), std::string::npos) << error;
  }
}

// Audio the store lacks is a failed read, exactly like a read fault at that
// offset: never zeros that an export would take for the recording.
TEST(StandIn, DataMissingFromTheStoreFailsTheReadLikeAReadFault) {
  enum class Fault { None, ReadFault, ShortFile };
  struct Case {
    const char* name;
    Fault fault;
  };
  for (const Case c : {Case{"whole data", Fault::None}, Case{"read fault", Fault::ReadFault},
                       Case{"data file cut short", Fault::ShortFile}}) {
    SCOPED_TRACE(c.name);
    lyr_test::EmulatedRecorder rec;
    const uint32_t entry = rec.AddPcm("LYR0001", 180000);
    const std::vector<uint8_t> data = rec.DataOf(entry);
    if (c.fault == Fault::ShortFile) fs::resize_file(rec.store().Find(entry)->data_path, 150000);
    if (c.fault == Fault::ReadFault) {
      rec.config().read_fail_offset = 150000;
      ASSERT_TRUE(rec.store().SaveConfig().ok());
    }
    // The store as lyr-emu finds it on disk.
    const auto opened = lyr_emu::RecorderStore::Open(rec.store().dir());
    ASSERT_TRUE(opened) << opened.error().context;
    const auto& store = opened.value();
    lyr_emu::RecorderEmulator emu(*store);

    // One 64 KiB piece at `offset`, asked for as the link asks (the length
    // field announces a piece more).
    std::vector<uint8_t> piece(65536);
    const auto read_piece = [&](uint32_t offset) {
      const auto block = CommandBlock(4000, 1, 5, {entry, offset, 0, 131072, 0});
      size_t done = 0;
      return emu.Write(4000 * 512, block.data(), 512, &done) &&
             emu.Read(4001 * 512, piece.data(), 65536, &done);
    };
    ASSERT_TRUE(read_piece(65536)) << "the data before the gap";
    EXPECT_TRUE(std::equal(piece.begin(), piece.end(), data.begin() + 65536));
    // The last piece, which the recording fills in part.
    const bool last = read_piece(131072);
    if (c.fault == Fault::None) {
      EXPECT_TRUE(last);
      EXPECT_TRUE(std::equal(data.begin() + 131072, data.end(), piece.begin()));
      EXPECT_TRUE(
          std::all_of(piece.begin() + (180000 - 131072), piece.end(), [](uint8_t b) { return b == 0; }));
    } else {
      EXPECT_FALSE(last);
    }
    EXPECT_EQ(emu.stats().failed_transfers, c.fault == Fault::None ? 0u : 1u);
  }
}

// A reply held back by slow_reply_ms is let go at once when the stand-in is
// stopped or unplugged: the transfer fails and nothing waits out the delay.
TEST(StandIn, StopOrUnplugEndsADelayedReply) {
  struct Case {
    const char* name;
    void (*end)(lyr_emu::RecorderEmulator&);
  };
  const Case cases[] = {
      {"stop", [](lyr_emu::RecorderEmulator& emu) { emu.Shutdown(); }},
      {"unplug", [](lyr_emu::RecorderEmulator& emu) { emu.SetConnected(false); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    lyr_test::EmulatedRecorder rec;
    rec.config().slow_reply_ms = 60000;
    auto& emu = rec.emulator();
    const auto block = DeviceInfoBlock(4000);
    auto exchange = std::async(std::launch::async, [&] {
      size_t done = 0;
      return emu.Write(4000 * 512, block.data(), 512, &done);
    });
    EXPECT_EQ(exchange.wait_for(std::chrono::milliseconds(200)), std::future_status::timeout);
    const auto asked = std::chrono::steady_clock::now();
    c.end(emu);
    ASSERT_EQ(exchange.wait_for(std::chrono::seconds(2)), std::future_status::ready)
        << "the delay was waited out";
    EXPECT_FALSE(exchange.get());
    EXPECT_LT(std::chrono::steady_clock::now() - asked, std::chrono::seconds(1));
    std::vector<uint8_t> reply(512);
    size_t done = 0;
    EXPECT_FALSE(emu.Read(4001 * 512, reply.data(), 512, &done))
        << "a stopped or unplugged recorder answers nothing";
  }
}

}  // namespace
