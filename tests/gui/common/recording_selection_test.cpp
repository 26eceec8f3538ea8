// The lines under a copy or delete question: names when few, counts when
// many, the recordings never copied and the ticked rows left alone.
#include "gui/common/recording_selection.h"

#include <gtest/gtest.h>

namespace {

using lyr::RecordingSelection;
using lyr::SelectedRecording;

RecordingSelection Numbered(int count, bool copied, bool known = true) {
  RecordingSelection s;
  for (int i = 1; i <= count; ++i)
    s.acted_on.push_back({QString("LYR%1").arg(i, 4, 10, QChar('0')), known, copied});
  return s;
}

TEST(DescribeSelection, NamesWhenFewCountsWhenMany) {
  RecordingSelection mixed = Numbered(3, true);
  mixed.acted_on[1].copied = false;
  mixed.acted_on[2].known = false;
  mixed.acted_on[2].name = "entry 9";
  RecordingSelection many = Numbered(12, false);
  many.acted_on[0].copied = true;
  many.ticked_left = {"LYR0020"};

  const struct {
    RecordingSelection selection;
    QString text;
  } cases[] = {
      {Numbered(1, true), "1 recording: LYR0001.\nAll of them were copied to the PC before."},
      {Numbered(2, false), "2 recordings: LYR0001, LYR0002.\nNone of them was ever copied to the PC."},
      {mixed,
       "3 recordings: LYR0001, LYR0002, entry 9.\nNever copied to the PC: LYR0002.\n"
       "The copied mark of 1 of them is not read yet."},
      {Numbered(10, true),
       "10 recordings: LYR0001, LYR0002, LYR0003, LYR0004, LYR0005, LYR0006, LYR0007, "
       "LYR0008, LYR0009, LYR0010.\nAll of them were copied to the PC before."},
      {many,
       "12 recordings: LYR0001, LYR0002 ... LYR0012 (12 in all).\n"
       "Never copied to the PC: LYR0002, LYR0003 ... LYR0012 (11 in all).\n"
       "Ticked in the \"Playing\" column but not highlighted, so left alone: LYR0020."},
  };
  for (const auto& c : cases)
    EXPECT_EQ(lyr::DescribeSelection(c.selection).toStdString(), c.text.toStdString());
}

}  // namespace
