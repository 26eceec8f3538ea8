// lyrctl against devices that are not (only) its own: a disk that is no
// recorder, and a recorder another program has open.
#include <sys/file.h>

#include <nlohmann/json.hpp>

#include "e2e/e2e_support.h"
#include "link/disk_scanner.h"

namespace {

using json = nlohmann::json;
using lyr_test::RunResult;
using lyr_test::ServedRecorder;
using lyr_test::Slurp;
namespace fs = std::filesystem;

// A small disk image: a partition table in sector 0 and a partition from
// sector 2048 filled with a pattern, where the link would put its blocks.
std::string DiskImage() {
  std::string image(2 << 20, '\0');
  unsigned char* mbr = reinterpret_cast<unsigned char*>(image.data());
  unsigned char* entry = mbr + 446;
  entry[4] = 0x83;  // Linux
  entry[8] = 0x00;  // first sector 2048, little-endian
  entry[9] = 0x08;
  entry[12] = 0x00;  // 2048 sectors
  entry[13] = 0x08;
  mbr[510] = 0x55;
  mbr[511] = 0xAA;
  for (size_t i = 2048 * 512; i < image.size(); ++i) image[i] = static_cast<char>("ext4 data "[i % 10]);
  return image;
}

TEST(LyrctlDevice, ADiskThatIsNoRecorderIsLeftAlone) {
  lyr_test::TempDir dir;
  const fs::path disk = dir / "disk.img";
  const std::string image = DiskImage();
  std::ofstream(disk, std::ios::binary) << image;

  const RunResult r = lyr_test::Run({lyr_test::LyrctlPath(), "--device", disk.string(), "list"});
  EXPECT_NE(r.exit_code, 0);
  EXPECT_NE(r.err.find("no recorder at " + disk.string() + ": it is a plain file"), std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find("Nothing was written to it; add --force"), std::string::npos) << r.err;
  EXPECT_TRUE(Slurp(disk) == image) << "the disk was written to";

  // Forced, lyrctl talks to it (and makes no sense of what it reads).
  const RunResult forced =
      lyr_test::Run({lyr_test::LyrctlPath(), "--device", disk.string(), "--force", "list"});
  EXPECT_NE(forced.exit_code, 0);
  EXPECT_EQ(forced.err.find("Nothing was written"), std::string::npos) << forced.err;
  EXPECT_NE(Slurp(disk).substr(2048 * 512, 4), image.substr(2048 * 512, 4)) << "the hello block went in";
}

// A file another FUSE file system serves (ntfs-3g, sshfs) is someone's data,
// not a stand-in recorder, though it is a regular file on FUSE.
TEST(LyrctlDevice, AFileOnAnotherFuseFileSystemIsLeftAlone) {
  LYR_REQUIRE_FUSE();
  lyr_test::TempDir dir;
  const fs::path mount = dir / "mnt";
  fs::create_directories(mount);
  const pid_t server =
      lyr_test::Spawn({std::string(LYR_TEST_BINARY_DIR) + "/tests/e2e/plain-fuse-server", mount},
                      dir / "server.out", dir / "server.err");
  ASSERT_GT(server, 0);
  const fs::path disk = mount / "disk";
  struct stat st {};
  for (int i = 0; i < 200 && ::stat(disk.c_str(), &st) != 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  ASSERT_TRUE(S_ISREG(st.st_mode)) << Slurp(dir / "server.err");

  const RunResult r = lyr_test::Run({lyr_test::LyrctlPath(), "--device", disk.string(), "info"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.err.find("it is a file on a fuse.plain file system, not a served stand-in recorder's disk. "
                       "Nothing was written to it; add --force"),
            std::string::npos)
      << r.err;
  EXPECT_TRUE(r.out.empty()) << r.out;
  EXPECT_EQ(Slurp(disk), std::string(1 << 20, '\0')) << "the file was written to";

  ::kill(server, SIGTERM);
  if (lyr_test::WaitExitWithin(server, std::chrono::seconds(10)) < 0) {
    ADD_FAILURE() << "the FUSE server did not stop";
    lyr_test::Kill(server);
    lyr_test::Run({"/bin/fusermount3", "-u", "-z", mount.string()});
  }
}

// The device's identity (the BWF originator reference) is found by what the
// device is, not by how its path is spelt.
TEST(LyrctlDevice, ExportsAreTheSameBytesWhateverTheDeviceIsCalled) {
  LYR_REQUIRE_FUSE();
  ServedRecorder rec;
  const fs::path root = rec.dir() / "sys";
  fs::create_directories(root);
  ASSERT_TRUE(rec.Start({"--sysfs", root.string(), "--serial", "SPELT0001"}));
  for (int i = 0; i < 200 && lyr::FindRecorders(root.string()).empty(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(25));
  const fs::path link = rec.dir() / "by-id";
  fs::create_symlink(rec.disk(), link);
  const std::vector<std::string> env = {"LYR_SYSFS_ROOT=" + root.string()};

  std::string first;
  int run = 0;
  for (const std::string& device :
       {rec.disk(), fs::relative(rec.disk(), fs::current_path()).string(), link.string()}) {
    SCOPED_TRACE(device);
    const fs::path out = rec.dir() / ("out" + std::to_string(++run));
    fs::create_directories(out);
    const RunResult r = lyr_test::Run({lyr_test::LyrctlPath(), "--device", device, "export", "--yes", "--to",
                                       out.string(), "--mpeg-format", "bwf", "1"},
                                      env);
    ASSERT_EQ(r.exit_code, 0) << r.err;
    const std::string bytes = Slurp(out / "LYR0001.wav");
    EXPECT_NE(bytes.find("SPELT0001"), std::string::npos) << "no originator reference";
    if (first.empty()) first = bytes;
    EXPECT_TRUE(bytes == first) << "the export differs";
  }
}

TEST(LyrctlDevice, ASecondProgramOnTheRecorderIsTurnedAway) {
  LYR_REQUIRE_FUSE();
  ServedRecorder rec;
  {
    json j = json::parse(Slurp(rec.store() / "recorder.json"));
    j["faults"]["slow_reply_ms"] = 300;  // the first run holds the recorder for seconds
    std::ofstream(rec.store() / "recorder.json") << j.dump(2);
  }
  ASSERT_TRUE(rec.Start());
  const pid_t first = lyr_test::Spawn({lyr_test::LyrctlPath(), "--device", rec.disk(), "list"},
                                      rec.dir() / "first.out", rec.dir() / "first.err");
  ASSERT_GT(first, 0);

  // Wait until the first run holds the drive.
  const int fd = ::open(rec.disk().c_str(), O_RDWR);
  ASSERT_GE(fd, 0);
  bool held = false;
  for (int i = 0; i < 200 && !held; ++i) {
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
      ::flock(fd, LOCK_UN);
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    } else {
      held = errno == EWOULDBLOCK;
    }
  }
  ::close(fd);
  ASSERT_TRUE(held);

  const RunResult second = rec.Lyrctl({"list"});
  EXPECT_EQ(second.exit_code, 1);
  EXPECT_NE(second.err.find("the recorder is in use by another program (lyrctl, pid " +
                            std::to_string(first) + ")"),
            std::string::npos)
      << second.err;
  EXPECT_TRUE(second.out.empty()) << second.out;

  EXPECT_EQ(lyr_test::WaitExit(first), 0) << Slurp(rec.dir() / "first.err");
  EXPECT_NE(Slurp(rec.dir() / "first.out").find("6 recordings"), std::string::npos);
}

}  // namespace
