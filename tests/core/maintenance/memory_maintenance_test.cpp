// Format and file-counter reset: the figures and texts of their
// confirmations, and what reaches the stand-in recorder.
#include "maintenance/memory_maintenance.h"

#include <gtest/gtest.h>

#include <cstring>

#include "core/maintenance/test_reporter.h"
#include "support/emulated_recorder.h"

namespace {

using lyr::MaintenanceOutcome;
using lyr_test::MaintenanceSpy;

TEST(MemoryStatusLine, UsedIsZeroWhenFreeExceedsSizeAndMegabytesAreTruncated) {
  struct Case {
    uint32_t size, unit, free;
    const char* line;
  };
  const Case cases[] = {
      {1000, 32768, 1200, "Memory status: Used 0 MB, Free 37 MB"},
      {61000, 32768, 30000, "Memory status: Used 968 MB, Free 937 MB"},
      {0, 32768, 0, "Memory status: Used 0 MB, Free 0 MB"},
      // Past 4 GiB the products are still right.
      {4000000, 65536, 1, "Memory status: Used 249999 MB, Free 0 MB"},
  };
  for (const Case& c : cases) {
    lyr::MemoryFigures m;
    m.size_units = c.size;
    m.unit_size = c.unit;
    m.free_units = c.free;
    EXPECT_EQ(lyr::MemoryStatusLine(m), c.line);
  }
}

TEST(HighestIndexLine, PrefixUpToItsNulOrItsEightCharacters) {
  lyr::SettingsRecord settings{};
  std::memcpy(&settings[92], "ABCD", 4);
  EXPECT_EQ(lyr::HighestIndexLine(settings, 42), "Highest index number = ABCD0042");
  std::memcpy(&settings[92], "ABCDEFGHIJ", 10);  // no NUL within the field
  EXPECT_EQ(lyr::HighestIndexLine(settings, 12345), "Highest index number = ABCDEFGH12345");
}

class MemoryMaintenance : public ::testing::Test {
 protected:
  void SetUp() override {
    rec_.AddPcm("LYR0001", 4 * 32768);
    rec_.AddPcm("LYR0002", 32768);
    rec_.config().file_counter = 42;
    rec_.config().memory_units = 61000;
    rec_.config().unit_size = 32768;
    link_ = rec_.MakeLink();
    ASSERT_EQ(model_.Refresh(*link_), 1);
    std::memcpy(&model_.Settings()[92], "ABCD\0\0\0\0", 8);
  }

  lyr_test::EmulatedRecorder rec_;
  std::unique_ptr<lyr::RecorderLink> link_;
  lyr::RecorderModel model_;
  MaintenanceSpy spy_;
};

TEST_F(MemoryMaintenance, FormatAsksWithTheMemoryInUseAndErasesOnlyWhenConfirmed) {
  EXPECT_EQ(lyr::OnFormat(*link_, model_, spy_), MaintenanceOutcome::kNotConfirmed);
  ASSERT_EQ(spy_.questions.size(), 1u);
  EXPECT_EQ(spy_.questions[0].title, "FORMAT");
  EXPECT_EQ(spy_.questions[0].prompt, "Formatting will erase all files?\nSelect \"Cancel\" or \"Yes\" + OK");
  EXPECT_EQ(spy_.questions[0].information, "Memory status: Used 0 MB, Free 1906 MB");
  EXPECT_EQ(rec_.store().recordings().size(), 2u);

  spy_.confirm = true;
  EXPECT_EQ(lyr::OnFormat(*link_, model_, spy_), MaintenanceOutcome::kDone);
  EXPECT_TRUE(rec_.store().recordings().empty());
  EXPECT_EQ(model_.Memory().list_count, 0u) << "the model is refreshed after the format";
}

TEST_F(MemoryMaintenance, ResetShowsTheHighestIndexAndResetsOnlyWhenConfirmed) {
  uint32_t highest = 0;
  EXPECT_EQ(lyr::OnResetFileCounter(*link_, model_, spy_, &highest), MaintenanceOutcome::kNotConfirmed);
  EXPECT_EQ(highest, 42u);
  ASSERT_EQ(spy_.questions.size(), 1u);
  EXPECT_EQ(spy_.questions[0].title, "RESET FILE COUNTER");
  EXPECT_EQ(
      spy_.questions[0].prompt,
      "Beware resetting can cause overwriting of\n none erased files?\nSelect \"Cancel\" or \"Yes\" + OK");
  EXPECT_EQ(spy_.questions[0].information, "Highest index number = ABCD0042");
  EXPECT_EQ(rec_.config().file_counter, 42u);

  spy_.confirm = true;
  EXPECT_EQ(lyr::OnResetFileCounter(*link_, model_, spy_), MaintenanceOutcome::kDone);
  EXPECT_EQ(rec_.config().file_counter, 0u);
}

TEST_F(MemoryMaintenance, ARecorderThatIsGoneFailsWithoutAQuestion) {
  rec_.emulator().SetConnected(false);
  spy_.confirm = true;
  EXPECT_EQ(lyr::OnResetFileCounter(*link_, model_, spy_), MaintenanceOutcome::kFailed);
  EXPECT_TRUE(spy_.questions.empty());
  EXPECT_EQ(lyr::OnFormat(*link_, model_, spy_), MaintenanceOutcome::kFailed);
}

}  // namespace
