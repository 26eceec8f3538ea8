#include "recordings/recording_catalogue.h"

#include <algorithm>
#include <new>

#include "platform/byte_order.h"
#include "platform/last_error.h"
#include "platform/trace.h"

namespace lyr {

int RecordingCatalogue::RefreshRecordings() {
  MemoryStatusRecord status{};
  if (!link_.GetMemoryStatus(status)) return 0;
  const uint32_t count = GetU32(status.data() + protocol::kMemListCount);
  const uint32_t capacity = GetU32(status.data() + protocol::kMemListCapacity);
  // A count beyond what the recorder can hold is no list: it would size an
  // allocation and a read of the recorder's garbage. A recorder that leaves
  // its capacity 0 is held to kMaxListEntries alone.
  if (count > kMaxListEntries || (capacity != 0 && count > capacity)) {
    Trace("catalogue: %u recordings announced, room for %u\n", count, capacity);
    SetLastError(kErrorInvalidData);
    return 0;
  }
  // The list read comes in whole sectors: room for the count rounded up.
  std::vector<uint32_t> entries;
  try {
    entries.resize(RecorderLink::RecordingListCapacityFor(count));
  } catch (const std::bad_alloc&) {
    SetLastError(kErrorNotEnoughMemory);
    return 0;
  }
  if (!link_.ReadRecordingList(entries, count)) return 0;
  std::sort(entries.begin(), entries.begin() + count);

  std::vector<RecordingRow> rows;
  rows.reserve(count);
  for (uint32_t i = 0; i < count; ++i) {
    // Entry 0 and a repeated entry are never recordings of their own.
    if (entries[i] == 0 || (i > 0 && entries[i] == entries[i - 1])) continue;
    if (IsEntryFlagged(entries[i])) continue;
    rows.emplace_back();
    rows.back().entry = entries[i];
  }
  rows_ = std::move(rows);
  FillVisibleRows();
  return 1;
}

int RecordingCatalogue::FillVisibleRows() {
  // Near the top the pass starts at row 0, so the first rows are never left
  // out by a small scroll.
  const size_t first = top_row_ <= 5 ? 0 : top_row_;
  const size_t last = std::min(first + rows_per_page_ + 5, rows_.size());
  for (size_t i = first; i < last; ++i) {
    RecordingRow& row = rows_[i];
    if (row.filled) continue;
    if (!link_.GetRecordingInfo(row.entry, row.record.bytes())) return 0;
    const RecordingDate date = RecordingDateTime(&row.record);
    row.name = row.record.Name();
    row.date = FormatDate(date);
    row.time = FormatTimeOfDay(date);
    row.duration = FormatDuration(RecordingDurationSeconds(row.record));
    uint32_t mark = 0;
    if (link_.GetCopiedMark(row.entry, mark)) row.copied = mark != 0;
    row.filled = true;
    if (row_filled_) row_filled_(i);
  }
  return 1;
}

ptrdiff_t RecordingCatalogue::FindEntry(uint32_t entry) const {
  for (size_t i = 0; i < rows_.size(); ++i) {
    if (rows_[i].entry == entry) return static_cast<ptrdiff_t>(i);
  }
  return -1;
}

bool RecordingCatalogue::RemoveEntry(uint32_t entry) {
  const ptrdiff_t i = FindEntry(entry);
  if (i < 0) return false;
  rows_.erase(rows_.begin() + i);
  return true;
}

}  // namespace lyr
