#include "recording_selection.h"

#include <algorithm>
#include <cstdlib>
#include <set>

namespace lyrctl {

void LoadWholeCatalogue(lyr::RecordingCatalogue& catalogue) {
  if (!catalogue.RefreshRecordings()) throw CommandFailure{"Read data from LYR error!: the recordings list"};
  // A "page" as long as the list fills every row in one pass.
  catalogue.SetVisibleRows(0, catalogue.RowCount());
  if (catalogue.RowCount() > 0 && !catalogue.FillVisibleRows())
    throw CommandFailure{"Read data from LYR error!: a recording's record"};
}

std::vector<const lyr::RecordingRow*> SelectRecordings(const lyr::RecordingCatalogue& catalogue, bool all,
                                                       const std::vector<std::string>& wanted) {
  std::vector<const lyr::RecordingRow*> rows;
  if (all) {
    for (const auto& row : catalogue.Rows()) rows.push_back(&row);
    return rows;
  }
  std::set<size_t> chosen;
  for (const std::string& w : wanted) {
    ptrdiff_t found = -1;
    char* end = nullptr;
    const unsigned long number = std::strtoul(w.c_str(), &end, 10);
    if (!w.empty() && end != nullptr && *end == '\0' && number <= UINT32_MAX)
      found = catalogue.FindEntry(static_cast<uint32_t>(number));
    if (found < 0) {
      for (size_t i = 0; i < catalogue.RowCount(); ++i)
        if (catalogue.Row(i).name == w) found = static_cast<ptrdiff_t>(i);
    }
    if (found < 0) throw CommandFailure{"no recording \"" + w + "\" on the recorder (see lyrctl list)"};
    chosen.insert(static_cast<size_t>(found));
  }
  for (size_t i : chosen) rows.push_back(&catalogue.Row(i));
  return rows;
}

}  // namespace lyrctl
