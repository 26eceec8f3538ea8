#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "link/recorder_link.h"
#include "platform/result.h"
#include "recordings/recording_record.h"

namespace lyr {

// One row of the recordings list. Rows start empty and are filled when they
// come into view.
struct RecordingRow {
  uint32_t entry = 0;  // the recorder's entry, the row's item data
  bool filled = false;
  std::string name;        // "Index" column: the recording name
  std::string duration;    // "Duration": "%02d:%02d:%02d"
  std::string time;        // "Time": "%02d:%02d:%02d"
  std::string date;        // "Date": "%02d.%02d.%02d"
  bool copied = false;     // "Index" column's icon: the recorder reports the copied mark
  RecordingRecord record;  // as read, odd second corrected
};

// The recordings list without its window: the rows in ascending entry order,
// filled lazily so that each GetRecordingInfo exchange happens only when its
// row is in view. The list control of the desktop sits on this model; lyrctl
// uses it directly.
class RecordingCatalogue {
 public:
  // Listing entries beyond this count is refused: the count comes from the
  // device and sizes an allocation (4 MiB at this bound).
  static constexpr uint32_t kMaxListEntries = 1u << 20;

  explicit RecordingCatalogue(RecorderLink& link) : link_(link) {}

  // Empties the list (no recorder, or before a refresh).
  void DeleteAllRows() { rows_.clear(); }

  // Fetches the memory status and the recording list and replaces the rows
  // with empty rows for the listed entries (flagged entries are left out),
  // then fills the visible rows. Entry 0 and repeated entries get no row. 1
  // on success; 0 with the rows unchanged when the status or the list cannot
  // be read or the list holds fewer entries than announced (last error
  // 1201), or the recorder announces more entries than its list capacity or
  // kMaxListEntries (last error 13).
  int RefreshRecordings();

  // Where the view is: its first visible row and how many rows a page shows.
  void SetVisibleRows(size_t top_row, size_t rows_per_page) {
    top_row_ = top_row;
    rows_per_page_ = rows_per_page;
  }
  // Fills the rows in view (and five more) that are still empty. Stops at the
  // first record that cannot be read, returning 0; the rest stay empty and are
  // tried again on the next call.
  int FillVisibleRows();

  // Told about every row FillVisibleRows has filled (the view redraws it).
  void SetRowFilledCallback(std::function<void(size_t row)> callback) { row_filled_ = std::move(callback); }

  size_t RowCount() const { return rows_.size(); }
  const RecordingRow& Row(size_t row) const { return rows_[row]; }
  const std::vector<RecordingRow>& Rows() const { return rows_; }
  // Row index of an entry, or -1.
  ptrdiff_t FindEntry(uint32_t entry) const;
  // Removes the row of an entry (a deleted recording); false when not listed.
  bool RemoveEntry(uint32_t entry);

 private:
  RecorderLink& link_;
  std::vector<RecordingRow> rows_;
  size_t top_row_ = 0;
  size_t rows_per_page_ = 0;
  std::function<void(size_t)> row_filled_;
};

// The two loads as the programs call them, with the last error as the
// error's code (0 when the load named none).
inline Status RefreshRecordings(RecordingCatalogue& catalogue) {
  return CallWithLastError([&] { return catalogue.RefreshRecordings() != 0; }, "recordings list");
}
inline Status FillVisibleRows(RecordingCatalogue& catalogue) {
  return CallWithLastError([&] { return catalogue.FillVisibleRows() != 0; }, "recording records");
}

}  // namespace lyr
