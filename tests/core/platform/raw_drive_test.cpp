#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

#include "platform/block_device.h"
#include "support/temp_dir.h"

namespace {

TEST(RawDrive, OneOpenerAtATime) {
  lyr_test::TempDir dir;
  const std::string disk = (dir / "disk").string();
  {
    const int fd = ::open(disk.c_str(), O_CREAT | O_RDWR, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, 1 << 20), 0);
    ::close(fd);
  }
  auto first = lyr::OpenRawDrive(disk);
  ASSERT_TRUE(first) << first.error().Message();

  const auto start = std::chrono::steady_clock::now();
  auto second = lyr::OpenRawDrive(disk, std::chrono::milliseconds(300));
  const auto waited = std::chrono::steady_clock::now() - start;
  ASSERT_FALSE(second);
  EXPECT_EQ(second.error().code, lyr::kErrorSharingViolation);
  EXPECT_NE(second.error().context.find("pid " + std::to_string(::getpid())), std::string::npos)
      << "names the holder: " << second.error().context;
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

}  // namespace
