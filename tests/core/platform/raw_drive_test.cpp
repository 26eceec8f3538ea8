#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/block_device.h"
#include "support/temp_dir.h"

#ifndef _WIN32
#include <unistd.h>
#endif

namespace {

// A file of 1 MiB standing in for the disk.
std::string MakeDisk(const lyr_test::TempDir& dir) {
  const std::string disk = (dir / "disk").string();
  std::ofstream(disk, std::ios::binary).put('\0');
  std::filesystem::resize_file(disk, 1 << 20);
  return disk;
}

TEST(RawDrive, OneOpenerAtATime) {
  lyr_test::TempDir dir;
  const std::string disk = MakeDisk(dir);
  auto first = lyr::OpenRawDrive(disk);
  ASSERT_TRUE(first) << first.error().Message();

  const auto start = std::chrono::steady_clock::now();
  auto second = lyr::OpenRawDrive(disk, std::chrono::milliseconds(300));
  const auto waited = std::chrono::steady_clock::now() - start;
  ASSERT_FALSE(second);
  EXPECT_EQ(second.error().code, lyr::kErrorSharingViolation);
#ifndef _WIN32  // Windows names no holder
  EXPECT_NE(second.error().context.find("pid " + std::to_string(::getpid())), std::string::npos)
      << "names the holder: " << second.error().context;
#endif
  EXPECT_GE(waited, std::chrono::milliseconds(300)) << "a holder gets a moment to let go";

  // Let go while another opener waits: it gets the drive.
  std::thread release([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    first.value().reset();
  });
  auto third = lyr::OpenRawDrive(disk, std::chrono::seconds(5));
  release.join();
  EXPECT_TRUE(third) << third.error().Message();
}

// Direct I/O moves aligned whole sectors only: other shapes go through the
// bounce buffer, and a partial-sector write is refused.
TEST(RawDrive, UnalignedTransfersRoundTripAndPartialSectorWritesFail) {
  lyr_test::TempDir dir;
  const std::string disk = MakeDisk(dir);
  auto drive = lyr::OpenRawDrive(disk);
  ASSERT_TRUE(drive) << drive.error().Message();

  std::vector<unsigned char> out(3 * 512 + 1), in(3 * 512 + 1);
  for (size_t i = 0; i < out.size(); ++i) out[i] = static_cast<unsigned char>(i * 7 + (i >> 8));
  size_t done = 0;
  ASSERT_TRUE(drive.value()->WriteAt(4096, out.data() + 1, 3 * 512, &done));
  EXPECT_EQ(done, 3u * 512);
  ASSERT_TRUE(drive.value()->ReadAt(4096, in.data() + 1, 3 * 512, &done));
  EXPECT_EQ(done, 3u * 512);
  EXPECT_TRUE(std::equal(out.begin() + 1, out.end(), in.begin() + 1));

  EXPECT_FALSE(drive.value()->WriteAt(0, out.data(), 100, &done));
  EXPECT_EQ(done, 0u);
  // Past the end: a short read, not a failure of the bytes that were there.
  EXPECT_FALSE(drive.value()->ReadAt((1 << 20) - 512, in.data() + 1, 1024, &done));
  EXPECT_EQ(done, 512u);
}

}  // namespace
