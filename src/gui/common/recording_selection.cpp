#include "gui/common/recording_selection.h"

namespace lyr {
namespace {

// "A, B, C" when few; otherwise the first and the last with the count.
QString NameList(const QStringList& names) {
  if (names.size() <= kSelectionNamesListed) return names.join(", ");
  return QString("%1, %2 ... %3 (%4 in all)").arg(names[0], names[1], names.back()).arg(names.size());
}

}  // namespace

QString DescribeSelection(const RecordingSelection& selection) {
  QStringList all, never_copied;
  int unread = 0;
  for (const SelectedRecording& r : selection.acted_on) {
    all << r.name;
    if (!r.known)
      ++unread;
    else if (!r.copied)
      never_copied << r.name;
  }
  QStringList lines;
  const int count = static_cast<int>(all.size());
  lines << QString(count == 1 ? "%1 recording: %2." : "%1 recordings: %2.").arg(count).arg(NameList(all));
  if (!never_copied.isEmpty()) {
    lines << (never_copied.size() == count
                  ? QString("None of them was ever copied to the PC.")
                  : QString("Never copied to the PC: %1.").arg(NameList(never_copied)));
  } else if (unread == 0 && count > 0) {
    lines << QString("All of them were copied to the PC before.");
  }
  if (unread > 0) lines << QString("The copied mark of %1 of them is not read yet.").arg(unread);
  if (!selection.ticked_left.isEmpty())
    lines << QString("Ticked in the \"Playing\" column but not highlighted, so left alone: %1.")
                 .arg(NameList(selection.ticked_left));
  return lines.join('\n');
}

}  // namespace lyr
