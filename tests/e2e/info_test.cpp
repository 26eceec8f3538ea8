// lyrctl info against a stand-in recorder served through FUSE.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "e2e/e2e_support.h"

namespace {

using lyr_test::ServedRecorder;
using json = nlohmann::json;
using lyr_test::EditConfig;

TEST(LyrctlInfo, ReportsWhatTheRecorderHolds) {
  LYR_REQUIRE_FUSE();
  ServedRecorder rec;
  EditConfig(rec.store(), [](json& j) {
    j["firmware_version"] = 6021;
    j["recorder_text"] = "Studio B, desk 4";
    j["memory_units"] = 61000;
    j["unit_size"] = 32768;
  });
  ASSERT_TRUE(rec.Start());
  const auto r = rec.Lyrctl({"--json", "info"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  const json j = json::parse(r.out);
  EXPECT_EQ(j["firmware"], "V6.021");
  EXPECT_EQ(j["recorder_text"], "Studio B, desk 4");
  EXPECT_EQ(j["recordings"], 6);
  EXPECT_EQ(j["memory"]["size_bytes"], 61000ull * 32768);
  // The demo recordings take a few allocation units each.
  uint64_t used_units = 0;
  for (const auto& f : std::filesystem::directory_iterator(rec.store() / "recordings"))
    if (f.path().extension() == ".dat") used_units += (f.file_size() + 32767) / 32768;
  EXPECT_EQ(j["memory"]["used_bytes"], used_units * 32768);
  EXPECT_EQ(j["memory"]["free_bytes"], (61000 - used_units) * 32768);
  EXPECT_EQ(j["file_type"]["file_name_prefix"], "LYR");
  EXPECT_EQ(j["clock"].get<std::string>().size(), 19u);

  const auto text = rec.Lyrctl({"info"});
  ASSERT_EQ(text.exit_code, 0) << text.err;
  EXPECT_NE(text.out.find("Firmware:        V6.021"), std::string::npos) << text.out;

  const std::string stats = rec.Stop();
  EXPECT_NE(stats.find("refused blocks: 0"), std::string::npos) << stats;
}

TEST(LyrctlInfo, RefusalsAreOneClearLineAndAFailureStatus) {
  LYR_REQUIRE_FUSE();
  struct Case {
    const char* name;
    std::function<void(json&)> edit;
    const char* message;
  };
  const Case cases[] = {
      {"old firmware", [](json& j) { j["firmware_version"] = 5999; }, "V5.999 is too old"},
      {"access locked", [](json& j) { j["access_locked"] = true; }, "refused access"},
      {"refused recorder", [](json& j) { j["refused"] = true; }, "must not be used"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ServedRecorder rec(false);
    EditConfig(rec.store(), c.edit);
    ASSERT_TRUE(rec.Start());
    const auto r = rec.Lyrctl({"info"});
    EXPECT_NE(r.exit_code, 0);
    EXPECT_TRUE(r.out.empty()) << r.out;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
  }
}

TEST(LyrctlInfo, NoRecorderAtThePath) {
  lyr_test::TempDir dir;
  const auto missing =
      lyr_test::Run({lyr_test::LyrctlPath(), "--device", (dir / "nothing").string(), "info"});
  EXPECT_NE(missing.exit_code, 0);
  EXPECT_NE(missing.err.find("no recorder at"), std::string::npos) << missing.err;

  // A plain file of zeros, opened anyway, takes the blocks but never answers.
  const auto blank = dir / "blank";
  { std::ofstream f(blank); }
  std::filesystem::resize_file(blank, 1 << 22);
  const auto silent = lyr_test::Run({lyr_test::LyrctlPath(), "--device", blank.string(), "--force", "info"});
  EXPECT_NE(silent.exit_code, 0);
  EXPECT_NE(silent.err.find("no recorder at"), std::string::npos) << silent.err;
}

}  // namespace
