// The sector transport against a plain file standing in for the raw disk.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <vector>

#include "link/protocol.h"
#include "link/sector_transport.h"
#include "platform/byte_order.h"
#include "support/temp_dir.h"

namespace {

using namespace lyr;
using namespace lyr::protocol;

class TransportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    disk_ = dir_ / "disk";
    const int fd = ::open(disk_.c_str(), O_CREAT | O_RDWR, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, static_cast<off_t>(kWindowEndByte)), 0);  // sparse, 40 GiB
    ::close(fd);
  }

  std::vector<uint8_t> ReadFile(uint64_t offset, size_t length) {
    std::vector<uint8_t> out(length);
    const int fd = ::open(disk_.c_str(), O_RDONLY);
    EXPECT_EQ(::pread(fd, out.data(), length, static_cast<off_t>(offset)), static_cast<ssize_t>(length));
    ::close(fd);
    return out;
  }
  void WriteFile(uint64_t offset, const std::vector<uint8_t>& data) {
    const int fd = ::open(disk_.c_str(), O_WRONLY);
    EXPECT_EQ(::pwrite(fd, data.data(), data.size(), static_cast<off_t>(offset)),
              static_cast<ssize_t>(data.size()));
    ::close(fd);
  }

  lyr_test::TempDir dir_;
  std::filesystem::path disk_;
};

TEST_F(TransportTest, OpenLinkWritesHelloAtWindowStart) {
  SectorTransport t;
  ASSERT_EQ(t.OpenLink(disk_), 0);
  EXPECT_EQ(t.WindowPointer(), 2049u);
  const auto block = ReadFile(2048ull * 512, 512);
  EXPECT_EQ(std::string(block.begin(), block.begin() + 4), "INFO");
  EXPECT_EQ(GetU32(&block[4]), 2048u);
  EXPECT_EQ(GetU16(&block[12]), 0);
  EXPECT_EQ(GetU16(&block[14]), 5);
  auto zeroed = block;
  PutU32(&zeroed[8], 0);
  EXPECT_EQ(GetU32(&block[8]), BlockChecksum(zeroed.data(), 512));
  EXPECT_EQ(GetU32(&block[8]), 0u - (0x4E49u + 0x4F46u + 2048u + 5u));
}

TEST_F(TransportTest, ChecksumOfHeaderOnlyBlock) {
  SectorTransport t;
  ASSERT_EQ(t.OpenLink(disk_), 0);
  const uint32_t pointer = 0x01234567 % kWindowEnd;
  t.SetWindowPointer(pointer);
  std::vector<uint8_t> block(512, 0);
  PutU16(&block[12], 1);
  PutU16(&block[14], 4);
  ASSERT_EQ(t.SendCommandBlock(block.data(), 512), 512u);
  const uint32_t expected = 0u - (0x4E49u + 0x4F46u + (pointer & 0xFFFF) + (pointer >> 16) + 1 + 4);
  EXPECT_EQ(GetU32(&block[8]), expected);
  EXPECT_EQ(ReadFile(uint64_t{pointer} * 512, 512), block);
  EXPECT_EQ(t.WindowPointer(), pointer + 1);
}

TEST_F(TransportTest, BlockAtWindowEndWrapsToStart) {
  SectorTransport t;
  ASSERT_EQ(t.OpenLink(disk_), 0);
  t.SetWindowPointer(kWindowEnd);
  std::vector<uint8_t> block(512, 0);
  ASSERT_EQ(t.SendCommandBlock(block.data(), 512), 512u);
  EXPECT_EQ(GetU32(&block[4]), 2048u);
  EXPECT_EQ(ReadFile(2048ull * 512, 512), block);
  EXPECT_EQ(t.WindowPointer(), 2049u);
}

TEST_F(TransportTest, BulkReadSplitsAtWindowEnd) {
  std::vector<uint8_t> tail(8192), head(57344);
  for (size_t i = 0; i < tail.size(); ++i) tail[i] = static_cast<uint8_t>(i * 7 + 1);
  for (size_t i = 0; i < head.size(); ++i) head[i] = static_cast<uint8_t>(i * 13 + 5);
  WriteFile(kWindowEndByte - 8192, tail);
  WriteFile(2048ull * 512, head);

  SectorTransport t;
  ASSERT_EQ(t.OpenDrive(disk_), 0);
  t.SetWindowPointer(kWindowEnd - 16);
  std::vector<uint8_t> out(65536);
  EXPECT_EQ(t.BulkRead(out.data(), 65536), 65536u);
  EXPECT_EQ(t.WindowPointer(), 2160u);
  EXPECT_TRUE(std::equal(tail.begin(), tail.end(), out.begin()));
  EXPECT_TRUE(std::equal(head.begin(), head.end(), out.begin() + 8192));
}

TEST_F(TransportTest, BulkReadAfterBlockInLastSectorStartsAtWindowStart) {
  std::vector<uint8_t> reply(512, 0xA5);
  WriteFile(2048ull * 512, reply);
  SectorTransport t;
  ASSERT_EQ(t.OpenDrive(disk_), 0);
  t.SetWindowPointer(kWindowEnd - 1);
  std::vector<uint8_t> block(512, 0);
  ASSERT_EQ(t.SendCommandBlock(block.data(), 512), 512u);
  EXPECT_EQ(t.WindowPointer(), kWindowEnd);
  std::vector<uint8_t> out(512);
  EXPECT_EQ(t.BulkRead(out.data(), 512), 512u);
  EXPECT_EQ(out, reply);
  EXPECT_EQ(t.WindowPointer(), 2049u);
}

TEST_F(TransportTest, SectorsBeyondFourGigabytes) {
  SectorTransport t;
  ASSERT_EQ(t.OpenDrive(disk_), 0);
  const uint32_t sector = 9'000'000;  // byte offset 4,608,000,000
  std::vector<uint8_t> data(1024);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i ^ 0x5A);
  uint32_t done = 0;
  ASSERT_EQ(t.WriteSectors(sector, data.data(), 1024, &done), 0);
  EXPECT_EQ(done, 1024u);
  EXPECT_EQ(ReadFile(uint64_t{sector} * 512, 1024), data);
  std::vector<uint8_t> back(1024);
  ASSERT_EQ(t.ReadSectors(sector, back.data(), 1024, &done), 0);
  EXPECT_EQ(back, data);
}

TEST_F(TransportTest, NothingMovesWithoutADrive) {
  SectorTransport t;
  t.SetWindowPointer(3000);
  std::vector<uint8_t> block(512, 0);
  EXPECT_EQ(t.SendCommandBlock(block.data(), 512), 0u);
  EXPECT_EQ(t.BulkRead(block.data(), 512), 0u);
  EXPECT_EQ(t.BulkWrite(block.data(), 512), 0u);
  uint32_t done = 77;
  EXPECT_EQ(t.ReadSectors(3000, block.data(), 512, &done), -1);
  EXPECT_EQ(done, 77u) << "the out count is not touched without a drive";
  EXPECT_EQ(t.WindowPointer(), 3000u);
}

TEST_F(TransportTest, NeverWritesOutsideTheWindow) {
  const std::vector<uint8_t> partition_table(512, 0x55);
  WriteFile(0, partition_table);
  SectorTransport t;
  ASSERT_EQ(t.OpenDrive(disk_), 0);
  std::vector<uint8_t> junk(1024, 0xEE);
  uint32_t done = 0;
  EXPECT_EQ(t.WriteSectors(0, junk.data(), 512, &done), -1);
  EXPECT_EQ(t.WriteSectors(2047, junk.data(), 1024, &done), -1) << "a write reaching below the window";
  EXPECT_EQ(t.WriteSectors(kWindowEnd - 1, junk.data(), 1024, &done), -1) << "a write past the window end";
  EXPECT_EQ(ReadFile(0, 512), partition_table);
  EXPECT_EQ(t.WriteSectors(kWindowEnd - 2, junk.data(), 1024, &done), 0);
}

TEST_F(TransportTest, OpenFailsForMissingDevice) {
  SectorTransport t;
  EXPECT_EQ(t.OpenLink(dir_ / "no-such-disk"), -1);
  EXPECT_FALSE(t.IsOpen());
  EXPECT_EQ(t.OpenError().os_error, ENOENT);
}

}  // namespace
