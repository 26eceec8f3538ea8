// The stand-in recorder's own rules: it answers only trustworthy blocks.
#include <gtest/gtest.h>

#include "link/protocol.h"
#include "link/sector_transport.h"
#include "platform/byte_order.h"
#include "support/emulated_recorder.h"

namespace {

using namespace lyr;
using namespace lyr::protocol;

std::vector<uint8_t> DeviceInfoBlock(uint32_t sector) {
  std::vector<uint8_t> b(512, 0);
  PutU32(&b[0], kBlockTag);
  PutU32(&b[4], sector);
  PutU16(&b[12], 0);
  PutU16(&b[14], 0);
  PutU32(&b[8], BlockChecksum(b.data(), 512));
  return b;
}

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
      {"wrong position", [](std::vector<uint8_t>& b) {
         PutU32(&b[4], 5000);
         PutU32(&b[8], 0);
         PutU32(&b[8], BlockChecksum(b.data(), 512));
       }, false},
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

}  // namespace
