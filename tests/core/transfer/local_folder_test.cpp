#include "transfer/local_folder.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

void WriteBytes(const fs::path& path, size_t size) {
  std::ofstream(path, std::ios::binary) << std::string(size, 'x');
}

TEST(LocalFolder, ListsFoldersThenAudioFilesAndSkipsHiddenOnes) {
  lyr_test::TempDir dir;
  WriteBytes(dir / "a.wav", 1999);
  WriteBytes(dir / "b.MP2", 12345678);
  WriteBytes(dir / "c.bwf", 999);
  WriteBytes(dir / "d.txt", 10);
  WriteBytes(dir / "take.Wav", 0);
  WriteBytes(dir / ".hidden.wav", 10);
  WriteBytes(dir / "wav", 10);  // the last three characters count, not an extension
  fs::create_directory(dir / "sub");
  fs::create_directory(dir / ".cache");

  const auto rows = lyr::ListLocalFolder(dir.path().string());
  std::vector<std::string> names;
  for (const auto& r : rows) names.push_back(r.name);
  EXPECT_EQ(names, (std::vector<std::string>{"sub", "a.wav", "b.MP2", "c.bwf", "take.Wav", "wav"}));

  ASSERT_EQ(rows.size(), 6u);
  EXPECT_TRUE(rows[0].is_folder);
  EXPECT_EQ(rows[0].type, "Folder");
  EXPECT_EQ(rows[0].size, "");
  EXPECT_EQ(rows[1].type, " File");
  EXPECT_EQ(rows[1].size, "       1K");  // 1999 / 1000, "%8uK"
  EXPECT_EQ(rows[2].size, "   12345K");
  EXPECT_EQ(rows[3].size, "       0K");
  // "%Y-%m-%d %H:%M"
  ASSERT_EQ(rows[1].date.size(), 16u);
  EXPECT_EQ(rows[1].date[4], '-');
  EXPECT_EQ(rows[1].date[10], ' ');
  EXPECT_EQ(rows[1].date[13], ':');
}

TEST(LocalFolder, UnreadableFolderGivesNoRows) {
  EXPECT_TRUE(lyr::ListLocalFolder("/no/such/folder").empty());
}

TEST(LocalFolder, LocationsAreHomeRealVolumesAndRoot) {
  lyr_test::TempDir dir;
  fs::create_directory(dir / "usb stick");
  const std::string volume = (dir / "usb stick").string();
  const fs::path mounts = dir / "mounts";
  {
    std::ofstream out(mounts);
    out << "proc /proc proc rw 0 0\n";
    out << "tmpfs /run/user/1000 tmpfs rw 0 0\n";
    out << "/dev/sda1 / ext4 rw 0 0\n";
    std::string escaped = volume;
    escaped.replace(escaped.find(' '), 1, "\\040");
    out << "/dev/sdb1 " << escaped << " vfat rw 0 0\n";
    out << "/dev/sdc1 /no/such/mount ext4 rw 0 0\n";
  }
  setenv("HOME", dir.path().c_str(), 1);
  const auto places = lyr::LocalLocations(mounts.string());
  ASSERT_EQ(places.size(), 3u);
  EXPECT_EQ(places[0].path, dir.path().string());
  EXPECT_EQ(places[1].path, volume);
  EXPECT_EQ(places[2].path, "/");
}

}  // namespace
