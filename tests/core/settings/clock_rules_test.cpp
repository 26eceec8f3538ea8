// The TIME & DATE page's rules, shared by the page and lyrctl set-clock.
#include "settings/clock_rules.h"

#include <gtest/gtest.h>

namespace {

using namespace std::chrono;

lyr::LocalDateTime At(int y, unsigned mo, unsigned d, int h = 0, int mi = 0, int s = 0, int ms = 0) {
  return local_days{year{y} / mo / d} + hours{h} + minutes{mi} + seconds{s} + milliseconds{ms};
}

TEST(ClockRules, MonthLengthsAndLeapYears) {
  EXPECT_EQ(lyr::MonthLength(2000, 2), 29);
  EXPECT_EQ(lyr::MonthLength(2001, 2), 28);
  EXPECT_EQ(lyr::MonthLength(2004, 2), 29);
  EXPECT_EQ(lyr::MonthLength(2100, 2), 28);
  EXPECT_EQ(lyr::MonthLength(2001, 4), 30);
  EXPECT_EQ(lyr::MonthLength(2001, 12), 31);
  EXPECT_EQ(lyr::MonthLength(2001, 13), 0);
}

TEST(ClockRules, ParsesOnlyWhatTheListsOffer) {
  const auto ok = lyr::ParseClockText("2000-02-29 23:59:59");
  ASSERT_TRUE(ok);
  EXPECT_EQ(lyr::ClockText(ok.value()), "2000-02-29 23:59:59");
  for (const char* bad :
       {"2001-02-29 00:00:00", "1999-12-31 23:59:59", "2100-01-01 00:00:00", "2026-04-31 10:00:00",
        "2026-01-01 24:00:00", "2026-01-01 10:60:00", "2026-01-01 10:00:60", "2026-00-10 10:00:00",
        "2026-01-01", "2026-01-01 10:00:00x", "today"}) {
    const auto got = lyr::ParseClockText(bad);
    EXPECT_FALSE(got) << bad;
    if (!got) {
      EXPECT_EQ(got.error().code, lyr::kErrorInvalidParameter);
    }
  }
}

TEST(ClockRules, ProposalRaisesEarlyYearsTo2000) {
  EXPECT_EQ(lyr::ProposedClockTime(At(1999, 6, 1, 12, 30, 5)), At(2000, 6, 1, 12, 30, 5));
  EXPECT_EQ(lyr::ProposedClockTime(At(1996, 2, 29, 1)), At(2000, 2, 29, 1));
  EXPECT_EQ(lyr::ProposedClockTime(At(2026, 12, 10, 9)), At(2026, 12, 10, 9));
}

TEST(ClockRules, RecorderDiffersFromTwoSecondsRounded) {
  const auto proposed = At(2026, 12, 10, 9, 0, 10);
  EXPECT_FALSE(lyr::RecorderClockDiffers(proposed, proposed - seconds{1}));
  EXPECT_FALSE(lyr::RecorderClockDiffers(proposed, proposed + milliseconds{1499}));
  EXPECT_TRUE(lyr::RecorderClockDiffers(proposed, proposed - milliseconds{1500}));
  EXPECT_TRUE(lyr::RecorderClockDiffers(proposed, proposed + seconds{2}));
  EXPECT_TRUE(lyr::RecorderClockDiffers(proposed, std::nullopt));
}

}  // namespace
