#include "settings/profile_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <climits>
#include <fstream>
#include <sstream>

#include "settings/config_path.h"
#include "support/temp_dir.h"

namespace {

using lyr::ProfileFile;

std::string ReadAll(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteAll(const std::filesystem::path& p, const std::string& text) {
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  out << text;
}

const char kSample[] =
    "; written by hand\n"
    "stray=before any section\n"
    "[Common]\n"
    "  Temp_Path =  /tmp/x  \n"
    "Quoted=\"  spaced  \"\n"
    "Single='x'\n"
    "Half=\"open\n"
    "dup=first\n"
    "DUP=second\n"
    "no equals sign here\n"
    "\n"
    "[other]\n"
    "key=value\n";

TEST(ProfileFile, ReadsLikeTheWindowsProfileFunctions) {
  ProfileFile f;
  f.Parse(kSample);
  struct Case {
    const char* section;
    const char* key;
    const char* expected;
  } cases[] = {
      {"common", "temp_path", "/tmp/x"},   // names without case, value trimmed
      {"COMMON", "Quoted", "  spaced  "},  // one pair of quotes removed, inside kept
      {"common", "single", "x"},
      {"common", "half", "\"open"},     // unmatched quote stays
      {"common", "dup", "first"},       // the first of two keys wins
      {"common", "stray", "fallback"},  // keys before any section belong to none
      {"common", "no equals sign here", "fallback"},
      {"missing", "key", "fallback"},
      {" other ", "KEY", "value"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(f.GetString(c.section, c.key, "fallback", 260), c.expected) << c.section << "/" << c.key;
  // A buffer of n characters holds n - 1 of them.
  EXPECT_EQ(f.GetString("common", "temp_path", "", 4), "/tm");
  EXPECT_EQ(f.GetString("common", "missing", "fallback", 4), "fal");
  EXPECT_EQ(f.GetString("common", "temp_path", "", 0), "");
}

TEST(ProfileFile, IntegersComeFromTheLeadingDigits) {
  struct Case {
    const char* value;
    int expected;
  } cases[] = {
      {"12abc", 12},
      {"  -10", -10},
      {"+7", 7},
      {"abc", 0},
      {"0x10", 0},
      {"'42'", 42},
      {"-", 0},
      {"2147483647", INT_MAX},
      {"2147483648", INT_MIN},  // 2^31 wraps like the 32-bit original
      {"4294967301", 5},        // 2^32 + 5
      {"99999999999999999999999999999", static_cast<int>(2684354559u)},  // long runs wrap, no overflow trap
  };
  for (const Case& c : cases) {
    ProfileFile f;
    f.Parse(std::string("[s]\nk=") + c.value + "\n");
    EXPECT_EQ(f.GetInt("s", "k", 77), c.expected) << c.value;
  }
  ProfileFile f;
  f.Parse("[s]\nempty=\n");
  EXPECT_EQ(f.GetInt("s", "empty", 77), 77);
  EXPECT_EQ(f.GetInt("s", "missing", 77), 77);
}

TEST(ProfileFile, WritesChangeOnlyTheirOwnLines) {
  ProfileFile f;
  f.Parse(
      "; keep me\r\n"
      "[common]\r\n"
      "Temp_Path = old\r\n"
      "\r\n"
      "garbage \x01\x02 line\r\n"
      "[InDev1]\r\n"
      "name=A\r\n"
      "; trailing comment\r\n");
  f.WriteString("COMMON", "temp_path", "/new");
  f.WriteString("common", "InDevTemplateCount", "1");
  f.WriteString("indev1", "indev", "2");
  f.WriteInt("FileFmt1", "codecid", 458753);
  EXPECT_EQ(f.Text(),
            "; keep me\r\n"
            "[common]\r\n"
            "Temp_Path=/new\r\n"
            "InDevTemplateCount=1\r\n"
            "\r\n"
            "garbage \x01\x02 line\r\n"
            "[InDev1]\r\n"
            "name=A\r\n"
            "indev=2\r\n"
            "; trailing comment\r\n"
            "[FileFmt1]\r\n"
            "codecid=458753\r\n");
  // A value cannot break the file into extra lines.
  f.WriteString("common", "Temp_Path", "a\nb\rc");
  EXPECT_EQ(f.GetString("common", "temp_path", "", 260), "a b c");
}

TEST(ProfileFile, SaveAndLoadOnDisk) {
  lyr_test::TempDir dir;
  const auto path = dir / "sub/folder/cfgfile.ini";
  // A write into a missing file creates it and its folders.
  ASSERT_EQ(lyr::WriteProfileString(path.string(), "common", "Temp_Path", "/var/tmp"), 1);
  EXPECT_EQ(ReadAll(path), "[common]\nTemp_Path=/var/tmp\n");
  EXPECT_EQ(lyr::ReadProfileString(path.string(), "Common", "TEMP_PATH", "", 260), "/var/tmp");
  EXPECT_EQ(lyr::ReadProfileInt(path.string(), "common", "count", -3), -3);
  // No temporary file is left beside it.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(path.parent_path()), {}), 1);

  // The file keeps its permissions when it is replaced.
  ::chmod(path.c_str(), 0640);
  ASSERT_EQ(lyr::WriteProfileString(path.string(), "common", "x", "1"), 1);
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
}

TEST(ProfileFile, FilesItCannotReadAreNeverOverwritten) {
  lyr_test::TempDir dir;
  // Too large to be read.
  const auto big = dir / "big.ini";
  WriteAll(big, "[common]\nTemp_Path=/x\n" + std::string(ProfileFile::kMaxFileSize, ';'));
  ProfileFile f;
  EXPECT_FALSE(f.Load(big.string()));
  EXPECT_TRUE(f.IsProtected());
  EXPECT_EQ(f.GetString("common", "Temp_Path", "none", 260), "none");
  EXPECT_EQ(lyr::WriteProfileString(big.string(), "common", "k", "v"), 0);
  EXPECT_EQ(std::filesystem::file_size(big), ProfileFile::kMaxFileSize + 22);
  // A folder (or any other non-file) in the file's place.
  const auto folder = dir / "folder.ini";
  std::filesystem::create_directory(folder);
  EXPECT_FALSE(f.Load(folder.string()));
  EXPECT_EQ(lyr::WriteProfileString(folder.string(), "common", "k", "v"), 0);
  EXPECT_TRUE(std::filesystem::is_directory(folder));
  // A FIFO does not block the reader.
  const auto fifo = dir / "fifo.ini";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_FALSE(f.Load(fifo.string()));
  // A missing file is simply empty, and writable.
  EXPECT_FALSE(f.Load((dir / "missing.ini").string()));
  EXPECT_FALSE(f.IsProtected());
}

TEST(ProfileFile, JunkAndHugeLinesLoadQuickly) {
  std::string junk;
  uint32_t x = 12345;
  for (size_t i = 0; i < ProfileFile::kMaxFileSize; ++i) {
    x = x * 1103515245u + 12345u;
    const char pick[] = {'[', ']', '=', '\n', '\r', '\0', ';', '"', 'a', 'K', ' ', '\xff'};
    junk.push_back(pick[(x >> 16) % sizeof pick]);
  }
  const std::string one_line =
      "[common]\nTemp_Path=" + std::string(ProfileFile::kMaxFileSize - 40, 'v') + "\n";
  for (const std::string& text : {junk, one_line, std::string(ProfileFile::kMaxFileSize, '\n')}) {
    const auto start = std::chrono::steady_clock::now();
    ProfileFile f;
    f.Parse(text);
    for (int n = 0; n < 1000; ++n) f.GetInt("InDev" + std::to_string(n), "indev", 1);
    EXPECT_LE(f.GetString("common", "Temp_Path", "", 260).size(), 259u);
    f.WriteString("common", "InDevTemplateCount", "1");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  }
}

TEST(ConfigPath, UserConfigFolderUnlessAPortableCopyHoldsTheFile) {
  lyr_test::TempDir dir;
  const auto exe = (dir / "bin/lyr-manager").string();
  std::filesystem::create_directories(dir / "bin");
  // A program folder we may write to is not where settings go...
  EXPECT_EQ(lyr::LocateConfigFile(exe, "/cfg", "/home/u"), "/cfg/lyr-manager/cfgfile.ini");
  // ...unless the file already stands there: a portable copy.
  std::ofstream(dir / "bin/cfgfile.ini") << "[x]\n";
  EXPECT_EQ(lyr::LocateConfigFile(exe, "/cfg", "/home/u"), (dir / "bin/cfgfile.ini").string());
  const auto elsewhere = (dir / "nowhere/lyr-manager").string();
  EXPECT_EQ(lyr::LocateConfigFile(elsewhere, "/cfg", "/home/u"), "/cfg/lyr-manager/cfgfile.ini");
  EXPECT_EQ(lyr::LocateConfigFile(elsewhere, nullptr, "/home/u"), "/home/u/.config/lyr-manager/cfgfile.ini");
  EXPECT_EQ(lyr::LocateConfigFile(elsewhere, "relative", "/home/u"),
            "/home/u/.config/lyr-manager/cfgfile.ini");
  EXPECT_EQ(lyr::LocateConfigFile(elsewhere, nullptr, nullptr), "");
  EXPECT_EQ(lyr::LocateConfigFile("", "/cfg", nullptr), "/cfg/lyr-manager/cfgfile.ini");
  EXPECT_FALSE(lyr::ExecutablePath().empty());
}

}  // namespace
