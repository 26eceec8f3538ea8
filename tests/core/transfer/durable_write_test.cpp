// The durable-write rule's pieces: a line appended whole or not at all, and a
// cut last line found and removed.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "support/file_size_limit.h"
#include "support/temp_dir.h"
#include "transfer/partial_file.h"

namespace {

namespace fs = std::filesystem;

std::string Text(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

TEST(AppendWhole, AFullDiskLeavesTheFileAsItWas) {
  lyr_test::TempDir dir;
  const std::string path = (dir / "manifest").string();
  ASSERT_TRUE(lyr::AppendWhole(path, "first line\n").ok());
  const std::string line = "a line that does not fit\n";
  lyr::Status appended;
  {
    // Files of this process may not grow past the middle of the line.
    const lyr_test::FileSizeLimit limit(20);
    ASSERT_TRUE(limit.set());
    appended = lyr::AppendWhole(path, line);
  }
  ASSERT_FALSE(appended.ok());
  EXPECT_EQ(appended.error().context, path);
  EXPECT_EQ(Text(path), "first line\n");
  ASSERT_TRUE(lyr::AppendWhole(path, line).ok());
  EXPECT_EQ(Text(path), "first line\n" + line);
}

TEST(TrimTornLine, CutsBackToTheLastWholeLine) {
  const std::string long_tail(10000, 'x');  // longer than one piece read back
  const struct {
    std::string before;
    std::string after;
  } cases[] = {
      {"", ""},           {"a\nb\n", "a\nb\n"},       {"a\nb", "a\n"},
      {"no newline", ""}, {"a\n" + long_tail, "a\n"}, {long_tail + "\n" + long_tail, long_tail + "\n"},
  };
  lyr_test::TempDir dir;
  const std::string path = (dir / "manifest").string();
  for (const auto& c : cases) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << c.before;
    const auto cut = lyr::TrimTornLine(path);
    ASSERT_TRUE(cut.ok()) << c.before.substr(0, 20);
    EXPECT_EQ(cut.value(), c.before.size() - c.after.size()) << c.before.substr(0, 20);
    EXPECT_EQ(Text(path), c.after) << c.before.substr(0, 20);
  }
  const auto missing = lyr::TrimTornLine((dir / "missing").string());
  ASSERT_TRUE(missing.ok());
  EXPECT_EQ(missing.value(), 0u);
  EXPECT_FALSE(fs::exists(dir / "missing"));
}

}  // namespace
