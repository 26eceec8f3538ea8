#include "platform/file_io.h"

#include <fcntl.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "support/temp_dir.h"

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace {

std::string ReadWhole(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

std::string Utf8(const std::filesystem::path& path) {
  const std::u8string text = path.u8string();
  return {text.begin(), text.end()};
}

class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  int get() const { return fd_; }

 private:
  int fd_;
};

// Line ends, ^Z and NUL pass unchanged, and offsets past 4 GiB reach their place.
TEST(FileIo, BytesAndWideOffsetsPassUnchanged) {
  lyr_test::TempDir dir;
  const std::string path = (dir / "data.bin").string();
  const std::string bytes(
      "a\nb\r\nc\x1A"
      "d\0e\r",
      11);
  const uint64_t far = (5ull << 30) + 3;
  {
    Fd fd(lyr::OpenFile(path, O_RDWR | O_CREAT | O_TRUNC));
    ASSERT_GE(fd.get(), 0) << errno;
    // The C library's own write on the descriptor: text mode would add CRs.
    ASSERT_EQ(::write(fd.get(), bytes.data(), static_cast<unsigned>(bytes.size())),
              static_cast<int>(bytes.size()));
    ASSERT_EQ(lyr::WriteFileAt(fd.get(), bytes.data(), bytes.size(), far),
              static_cast<long long>(bytes.size()));
    std::string back(bytes.size(), '?');
    ASSERT_EQ(lyr::ReadFileAt(fd.get(), back.data(), back.size(), far), static_cast<long long>(bytes.size()));
    EXPECT_EQ(back, bytes);
    // At the end: a short read, then nothing.
    EXPECT_EQ(lyr::ReadFileAt(fd.get(), back.data(), back.size(), far + 4),
              static_cast<long long>(bytes.size() - 4));
    EXPECT_EQ(lyr::ReadFileAt(fd.get(), back.data(), back.size(), far + bytes.size()), 0);
  }
  EXPECT_EQ(std::filesystem::file_size(path), far + bytes.size());
  std::ifstream in(path, std::ios::binary);
  std::string head(bytes.size(), '?');
  in.read(head.data(), static_cast<std::streamsize>(head.size()));
  EXPECT_EQ(head, bytes);
}

TEST(FileIo, RenameReplacingReplacesAnExistingTarget) {
  lyr_test::TempDir dir;
  const auto from = dir / "new.txt";
  const auto to = dir / "old.txt";
  std::ofstream(from, std::ios::binary) << "new";
  std::ofstream(to, std::ios::binary) << "old, longer";
  ASSERT_EQ(lyr::RenameReplacing(from.string(), to.string()), 0) << errno;
  EXPECT_FALSE(std::filesystem::exists(from));
  EXPECT_EQ(ReadWhole(to), "new");

  errno = 0;
  EXPECT_EQ(lyr::RenameReplacing(from.string(), to.string()), -1);
  EXPECT_EQ(errno, ENOENT);
  EXPECT_EQ(ReadWhole(to), "new");
}

// Recording names carry any character: the UTF-8 name is the file's name.
TEST(FileIo, Utf8NamesAreTheFilesNames) {
  lyr_test::TempDir dir;
  const std::string name = "Aufnahme \xC3\xA4\xC3\xB6 \xE6\x97\xA5\xE6\x9C\xAC.mp2";
  {
    const std::u8string wide_name(reinterpret_cast<const char8_t*>(name.data()), name.size());
    Fd fd(lyr::OpenFile(Utf8(dir.path() / wide_name), O_WRONLY | O_CREAT | O_EXCL));
    ASSERT_GE(fd.get(), 0) << errno;
  }
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
    names.push_back(Utf8(entry.path().filename()));
  }
  EXPECT_EQ(names, std::vector<std::string>{name});

  errno = 0;
  EXPECT_EQ(lyr::OpenFile((dir / "missing" / "x").string(), O_RDONLY), -1);
  EXPECT_EQ(errno, ENOENT);
}

}  // namespace
