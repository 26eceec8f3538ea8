#include "recording_selection.h"

#include <algorithm>
#include <optional>
#include <set>
#include <string_view>

#include "text_output.h"

namespace lyrctl {

namespace {

// The entry number an argument spells in plain decimal digits.
std::optional<uint32_t> EntryNumber(std::string_view text) {
  if (text.empty() || text.size() > 10) return std::nullopt;
  uint64_t n = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    n = n * 10 + static_cast<uint64_t>(c - '0');
  }
  if (n > UINT32_MAX) return std::nullopt;
  return static_cast<uint32_t>(n);
}

std::vector<size_t> RowsNamed(const lyr::RecordingCatalogue& catalogue, std::string_view name) {
  std::vector<size_t> rows;
  for (size_t i = 0; i < catalogue.RowCount(); ++i) {
    const std::string& held = catalogue.Row(i).name;
    if (held == name || DeviceJsonText(held) == name) rows.push_back(i);
  }
  return rows;
}

std::string Quoted(const std::string& local_text) { return "\"" + LocalShownText(local_text) + "\""; }
std::string RowText(const lyr::RecordingRow& row) {
  return "entry " + std::to_string(row.entry) + " (\"" + DeviceShownText(row.name) + "\")";
}

// The one row an argument names.
lyr::Result<size_t> FindRecording(const lyr::RecordingCatalogue& catalogue, const std::string& wanted) {
  constexpr std::string_view kEntry = "entry:", kName = "name:";
  const std::string_view text = wanted;
  const bool by_entry = text.substr(0, kEntry.size()) == kEntry;
  const bool by_name = text.substr(0, kName.size()) == kName;
  const std::string_view value = by_entry  ? text.substr(kEntry.size())
                                 : by_name ? text.substr(kName.size())
                                           : text;

  std::optional<size_t> entry_row;
  if (!by_name) {
    const std::optional<uint32_t> entry = EntryNumber(value);
    if (by_entry && !entry) return UsageError(Quoted(wanted) + ": entry: wants an entry number");
    if (entry) {
      const ptrdiff_t row = catalogue.FindEntry(*entry);
      if (row >= 0) entry_row = static_cast<size_t>(row);
    }
  }
  std::vector<size_t> name_rows;
  if (!by_entry) name_rows = RowsNamed(catalogue, value);

  if (name_rows.size() > 1) {
    std::string rows;
    for (size_t i : name_rows) rows += (rows.empty() ? "" : ", ") + RowText(catalogue.Row(i));
    return UsageError(Quoted(wanted) + " is ambiguous: it is the name of " + rows +
                      "; choose one with entry:N");
  }
  if (entry_row && !name_rows.empty() && name_rows.front() != *entry_row) {
    return UsageError(Quoted(wanted) + " is ambiguous: it is the entry number of " +
                      RowText(catalogue.Row(*entry_row)) + " and the name of " +
                      RowText(catalogue.Row(name_rows.front())) + "; choose with entry:" +
                      LocalShownText(std::string(value)) + " or name:" + LocalShownText(std::string(value)));
  }
  if (entry_row) return *entry_row;
  if (!name_rows.empty()) return name_rows.front();
  return UsageError("no recording " + Quoted(wanted) + " on the recorder (see lyrctl list)");
}

}  // namespace

lyr::Status LoadWholeCatalogue(lyr::RecordingCatalogue& catalogue) {
  if (const lyr::Status listed = lyr::RefreshRecordings(catalogue); !listed)
    return Failure("Read data from LYR error!: the recordings list", listed.error().code);
  // A "page" as long as the list fills every row in one pass.
  catalogue.SetVisibleRows(0, catalogue.RowCount());
  if (catalogue.RowCount() == 0) return {};
  if (const lyr::Status filled = lyr::FillVisibleRows(catalogue); !filled)
    return Failure("Read data from LYR error!: a recording's record", filled.error().code);
  return {};
}

lyr::Result<std::vector<const lyr::RecordingRow*>> SelectRecordings(const lyr::RecordingCatalogue& catalogue,
                                                                    bool all,
                                                                    const std::vector<std::string>& wanted) {
  std::vector<const lyr::RecordingRow*> rows;
  if (all) {
    for (const auto& row : catalogue.Rows()) rows.push_back(&row);
    return rows;
  }
  std::set<size_t> chosen;
  for (const std::string& w : wanted) {
    LYR_TRY_ASSIGN(const size_t row, FindRecording(catalogue, w));
    chosen.insert(row);
  }
  for (size_t i : chosen) rows.push_back(&catalogue.Row(i));
  return rows;
}

}  // namespace lyrctl
