// lyrctl drives against the stand-in disc writer.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "e2e/e2e_support.h"

namespace {

using lyr_test::LyrctlPath;

TEST(LyrctlDrives, ListsTheDrivesOfTheWriterNamed) {
  lyr_test::TempDir state;
  std::ofstream(state / "drives.txt") << "0,0,0 'HL-DT-ST' 'DVDRAM GH22NS50' 0x1FFF 0x1FEE\n"
                                         "0,1,0 'hp' 'DVD-ROM SU-108GB' 0x0011 0x0\n";
  const std::string bin = std::string(LYR_TEST_BINARY_DIR) + "/tools/lyr-burn-emu/bin/";
  const std::vector<std::string> env = {"LYR_BURN_EMU_STATE=" + state.path().string(),
                                        "LYR_CDRECORD=" + bin + "cdrskin", "LYR_MKISOFS=genisoimage"};
  const auto r = lyr_test::Run({LyrctlPath(), "drives", "--json"}, env);
  ASSERT_EQ(r.exit_code, 0) << r.err;
  const auto j = nlohmann::json::parse(r.out);
  EXPECT_EQ(j["writer_kind"], "cdrskin");
  EXPECT_EQ(j["image_maker"], "/usr/bin/genisoimage");
  ASSERT_EQ(j["drives"].size(), 2u);
  EXPECT_EQ(j["drives"][0]["address"], "0,0,0");
  EXPECT_EQ(j["drives"][0]["name"], "HL-DT-STDVDRAM GH22NS50");
  EXPECT_EQ(j["drives"][0]["writer"], true);
  EXPECT_NE(j["drives"][0]["writes"].dump().find("\"DVD+RW\""), std::string::npos);
  EXPECT_EQ(j["drives"][1]["writer"], false);
  EXPECT_EQ(j["drives"][1]["writes"].size(), 0u);

  const auto text = lyr_test::Run({LyrctlPath(), "drives"}, env);
  EXPECT_EQ(text.exit_code, 0);
  EXPECT_NE(text.out.find("0,1,0"), std::string::npos);

  // A writer that refuses the scan is no machine without drives.
  std::ofstream(state / "refused.txt") << "-scanbus\n";
  const auto refused = lyr_test::Run({LyrctlPath(), "drives"}, env);
  EXPECT_EQ(refused.exit_code, 1) << refused.out;
  EXPECT_NE(refused.err.find("scan of"), std::string::npos) << refused.err;
  EXPECT_NE(refused.err.find("failed: cdrskin: Bad Option: -scanbus."), std::string::npos) << refused.err;
  EXPECT_EQ(refused.out.find("No disc drive found"), std::string::npos);
  std::filesystem::remove(state / "refused.txt");

  const auto none =
      lyr_test::Run({LyrctlPath(), "drives"}, {"LYR_CDRECORD=" + (state / "no-such-writer").string()});
  EXPECT_EQ(none.exit_code, 1);
  EXPECT_NE(none.err.find("no disc writer found"), std::string::npos);
}

}  // namespace
