#pragma once
#include <QString>
#include <QStringList>
#include <vector>

namespace lyr {

// One recording a copy or a delete would act on, as the play list shows it.
struct SelectedRecording {
  QString name;         // "entry N" while its row has not been read
  bool known = false;   // the row was read: `copied` holds
  bool copied = false;  // the recorder's copied mark
};

// What a copy or a delete of the play list acts on: the highlighted rows.
// The ticks of the "Playing" column look like a selection but are not one;
// the ticked rows that are not highlighted are named so nobody takes them
// for the target.
struct RecordingSelection {
  std::vector<SelectedRecording> acted_on;
  QStringList ticked_left;
};

// Names are listed up to this many; beyond it, counts.
inline constexpr int kSelectionNamesListed = 10;

// The lines shown under a copy or delete question: how many recordings and
// which, those never copied to the PC, and the ticked ones left alone.
QString DescribeSelection(const RecordingSelection& selection);

}  // namespace lyr
