// What the progress windows and the unplug notice say in words.
#include <gtest/gtest.h>

#include <QMessageBox>
#include <QTest>

#include "gui/common/job_pace.h"
#include "gui/common/job_questions.h"
#include "gui/common/unplug_notice.h"

namespace {

TEST(PaceText, SaysShareRateAndTimeLeftOnceTheBarHasMoved) {
  struct Case {
    int percent;
    int64_t elapsed_ms;
    uint64_t total_bytes;
    const char* text;
  };
  const Case cases[] = {
      {0, 5000, 100000000, "0 %"},              // nothing done: no estimate
      {40, 500, 100000000, "40 %"},             // too soon to say
      {100, 9000, 100000000, "100 %"},          // done: nothing left
      {25, 10000, 0, "25 %, about 0:30 left"},  // size unknown: no rate
      {50, 4000, 0, "50 %, about 0:04 left"},
      {10, 2000, 20971520, "10 %, 1.0 MB/s, about 0:18 left"},
      {1, 60000, 0, "1 %, about 1:39:00 left"},  // hours
      {150, 1000, 0, "100 %"},                   // out of range clamped
  };
  for (const Case& c : cases)
    EXPECT_EQ(lyr::PaceText(c.percent, c.elapsed_ms, c.total_bytes).toStdString(), c.text)
        << c.percent << " " << c.elapsed_ms;
}

TEST(UnplugNotice, NamesWhatWasKeptOrThatNothingWas) {
  const QString copy =
      lyr::UnplugNoticeText(lyr::InterruptedJob::kCopy, {"/m/A.wav", "/m/B.wav.partial (incomplete)"});
  EXPECT_TRUE(copy.contains("during the copy"));
  EXPECT_TRUE(copy.contains("/m/B.wav.partial (incomplete)"));
  EXPECT_TRUE(copy.contains("/m/A.wav"));
  EXPECT_FALSE(copy.contains("Nothing"));
  EXPECT_TRUE(lyr::UnplugNoticeText(lyr::InterruptedJob::kBurnDownload).contains("Nothing was kept"));
  EXPECT_TRUE(lyr::UnplugNoticeText(lyr::InterruptedJob::kBurnDownload).contains("not written"));
  const QString marks = lyr::UnplugNoticeText(lyr::InterruptedJob::kBurnMarks);
  EXPECT_TRUE(marks.contains("disc was written"));
  EXPECT_TRUE(marks.contains("marked as copied"));
  EXPECT_FALSE(marks.contains("Nothing"));
}

// "User Abort!" under "Warning": the box is wide enough for its caption.
TEST(FitCaption, ShortTextKeepsTheCaptionWhole) {
  QMessageBox plain(QMessageBox::Warning, "Warning", "User Abort!", QMessageBox::Ok);
  QMessageBox fitted(QMessageBox::Warning, "Warning", "User Abort!", QMessageBox::Ok);
  lyr::FitCaption(&fitted);
  const int caption = fitted.fontMetrics().horizontalAdvance("Warning");
  EXPECT_GE(fitted.sizeHint().width(), caption + 150);
  EXPECT_GE(fitted.sizeHint().width(), plain.sizeHint().width());
}

}  // namespace
