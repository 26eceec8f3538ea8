#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <ctime>
#include <fstream>
#include <string>

#include "link/protocol.h"
#include "platform/byte_order.h"
#include "platform/last_error.h"
#include "recordings/recording_catalogue.h"
#include "support/emulated_recorder.h"

namespace {

using lyr::RecordingCatalogue;

class CatalogueTest : public ::testing::Test {
 protected:
  uint64_t InfoReads() { return recorder_.emulator().stats().recording_info_reads; }
  std::vector<size_t> FilledRows(const RecordingCatalogue& catalogue) {
    std::vector<size_t> rows;
    for (size_t i = 0; i < catalogue.RowCount(); ++i)
      if (catalogue.Row(i).filled) rows.push_back(i);
    return rows;
  }
  static std::vector<size_t> Range(size_t first, size_t last) {
    std::vector<size_t> v;
    for (size_t i = first; i < last; ++i) v.push_back(i);
    return v;
  }

  lyr_test::EmulatedRecorder recorder_;
};

TEST_F(CatalogueTest, FlaggedEntriesAreLeftOutAndRowsShowTheRecord) {
  recorder_.AddPcm("LYR0003", 1920000, 48000, 2, 3);
  recorder_.AddPcm("LYR0009", 96000, 48000, 1, 9);
  recorder_.AddPcm("LYR0005", 16, 48000, 2, 16777221);  // bit 24 set
  recorder_.store().SetCopied(9, true);
  auto link = recorder_.MakeLink();
  RecordingCatalogue catalogue(*link);
  catalogue.SetVisibleRows(0, 20);
  ASSERT_EQ(catalogue.RefreshRecordings(), 1);

  ASSERT_EQ(catalogue.RowCount(), 2u);
  const lyr::RecordingRow& first = catalogue.Row(0);
  EXPECT_EQ(first.entry, 3u);
  EXPECT_TRUE(first.filled);
  EXPECT_EQ(first.name, "LYR0003");
  EXPECT_EQ(first.duration, "00:00:10");
  EXPECT_EQ(first.time, "10:20:37");  // stored 36, parity digit odd
  EXPECT_EQ(first.date, "19.08.11");
  EXPECT_FALSE(first.copied);
  EXPECT_EQ(first.record.Second(), 37);  // corrected in the kept record
  EXPECT_EQ(catalogue.Row(1).entry, 9u);
  EXPECT_EQ(catalogue.Row(1).duration, "00:00:01");
  EXPECT_TRUE(catalogue.Row(1).copied);

  EXPECT_TRUE(catalogue.RemoveEntry(3));
  EXPECT_FALSE(catalogue.RemoveEntry(3));
  EXPECT_EQ(catalogue.FindEntry(9), 0);
}

TEST_F(CatalogueTest, OnlyTheRowsInViewAndFiveMoreAreAskedFor) {
  constexpr uint32_t kCount = 10000;
  recorder_.config().list_capacity = kCount;
  // Straight into the store, all sharing one data file: quick enough for a
  // big recorder.
  const auto data = recorder_.dir().path() / "shared.dat";
  std::ofstream(data) << "0123456789abcdef";
  std::tm date{};
  for (uint32_t i = 1; i <= kCount; ++i) {
    auto record =
        lyr_emu::MakeRecordingRecord(48000, 1536000, 16, 2, 0x70001, date, "R" + std::to_string(i), "");
    const auto added = recorder_.store().AddRecording(record, data, 0, 16);
    ASSERT_TRUE(added) << added.error().context;
  }
  auto link = recorder_.MakeLink();
  RecordingCatalogue catalogue(*link);
  std::vector<size_t> told;
  catalogue.SetRowFilledCallback([&](size_t row) { told.push_back(row); });

  // First visible row 3, ten rows a page: rows 0 to 14.
  catalogue.SetVisibleRows(3, 10);
  const uint64_t before = InfoReads();
  ASSERT_EQ(catalogue.RefreshRecordings(), 1);
  EXPECT_EQ(catalogue.RowCount(), kCount);
  EXPECT_EQ(InfoReads() - before, 15u);
  EXPECT_EQ(FilledRows(catalogue), Range(0, 15));
  EXPECT_EQ(told, Range(0, 15));

  // Scrolled far down: that page and five more; rows filled once stay filled.
  catalogue.SetVisibleRows(5000, 10);
  ASSERT_EQ(catalogue.FillVisibleRows(), 1);
  EXPECT_EQ(InfoReads() - before, 30u);
  EXPECT_EQ(catalogue.Row(5000).name, "R5001");
  catalogue.SetVisibleRows(5002, 10);
  ASSERT_EQ(catalogue.FillVisibleRows(), 1);
  EXPECT_EQ(InfoReads() - before, 32u);
  // The end of the list bounds the pass.
  catalogue.SetVisibleRows(kCount - 3, 10);
  ASSERT_EQ(catalogue.FillVisibleRows(), 1);
  EXPECT_EQ(InfoReads() - before, 35u);
}

TEST_F(CatalogueTest, AFailedReadEndsThePassAndTheRestIsTriedAgain) {
  for (uint32_t i = 1; i <= 8; ++i) recorder_.AddPcm("R" + std::to_string(i), 16, 48000, 2, i);
  auto link = recorder_.MakeLink();
  RecordingCatalogue catalogue(*link);
  catalogue.SetVisibleRows(0, 0);  // nothing in view yet: the refresh fills the five extra rows
  ASSERT_EQ(catalogue.RefreshRecordings(), 1);
  EXPECT_EQ(FilledRows(catalogue), Range(0, 5));

  // Row 5 takes a record and a copied-mark read; the link drops before row 6.
  recorder_.config().disconnect_after = recorder_.emulator().stats().commands + 2;
  catalogue.SetVisibleRows(0, 3);
  EXPECT_EQ(catalogue.FillVisibleRows(), 0);
  EXPECT_EQ(FilledRows(catalogue), Range(0, 6));

  recorder_.config().disconnect_after = 0;
  recorder_.emulator().SetConnected(true);
  EXPECT_EQ(catalogue.FillVisibleRows(), 1);
  EXPECT_EQ(FilledRows(catalogue), Range(0, 8));
}

TEST_F(CatalogueTest, FailedRefreshKeepsTheRowsAndAnImplausibleCountIsRefused) {
  recorder_.AddPcm("LYR0001", 16, 48000, 2, 1);
  auto link = recorder_.MakeLink();
  RecordingCatalogue catalogue(*link);
  ASSERT_EQ(catalogue.RefreshRecordings(), 1);
  ASSERT_EQ(catalogue.RowCount(), 1u);

  recorder_.config().list_count_override = true;
  recorder_.config().list_count_value = RecordingCatalogue::kMaxListEntries + 1;
  lyr::SetLastError(0);
  EXPECT_EQ(catalogue.RefreshRecordings(), 0);
  EXPECT_EQ(lyr::GetLastError(), lyr::kErrorInvalidData);
  EXPECT_EQ(catalogue.RowCount(), 1u);

  recorder_.config().list_count_override = false;
  recorder_.emulator().SetConnected(false);
  EXPECT_EQ(catalogue.RefreshRecordings(), 0);
  EXPECT_EQ(lyr::GetLastError(), lyr::kErrorConnectionUnavail);
  EXPECT_EQ(catalogue.RowCount(), 1u);

  // Access withdrawn: no status, no list, rows kept.
  recorder_.emulator().SetConnected(true);
  link->SetAccessGranted(false);
  EXPECT_EQ(catalogue.RefreshRecordings(), 0);
  EXPECT_EQ(catalogue.RowCount(), 1u);
}

// Passes transfers on to the stand-in, but answers the recording list
// command with the entries given, as a recorder with a damaged list would.
class ListReplyDevice final : public lyr::BlockDevice {
 public:
  ListReplyDevice(std::unique_ptr<lyr::BlockDevice> inner, std::vector<uint32_t> entries)
      : inner_(std::move(inner)), entries_(std::move(entries)) {}
  bool ReadAt(uint64_t offset, void* buffer, size_t length, size_t* done) override {
    if (!list_next_) return inner_->ReadAt(offset, buffer, length, done);
    list_next_ = false;
    auto* out = static_cast<uint8_t*>(buffer);
    std::memset(out, 0, length);
    for (size_t i = 0; i < entries_.size() && (i + 1) * 4 <= length; ++i)
      lyr::PutU32(out + i * 4, entries_[i]);
    *done = length;
    return true;
  }
  bool WriteAt(uint64_t offset, const void* buffer, size_t length, size_t* done) override {
    const auto* block = static_cast<const uint8_t*>(buffer);
    list_next_ = lyr::GetU32(block) == lyr::protocol::kBlockTag && lyr::GetU16(block + 12) == 1 &&
                 lyr::GetU16(block + 14) == lyr::protocol::kCodeRecordingList;
    return inner_->WriteAt(offset, buffer, length, done);
  }

 private:
  std::unique_ptr<lyr::BlockDevice> inner_;
  std::vector<uint32_t> entries_;
  bool list_next_ = false;
};

TEST_F(CatalogueTest, EntryZeroAndRepeatedEntriesAreNoRecordings) {
  recorder_.AddPcm("LYR0001", 16, 48000, 2, 1);
  recorder_.AddPcm("LYR0002", 16, 48000, 2, 2);
  recorder_.config().list_count_override = true;
  recorder_.config().list_count_value = 5;
  lyr::RecorderLink link([&](const std::string&) {
    return lyr::RawDriveOpenResult(std::make_unique<ListReplyDevice>(recorder_.emulator().Connect(),
                                                                     std::vector<uint32_t>{2, 0, 1, 2, 1}));
  });
  link.SetSettleDelay(std::chrono::milliseconds(0));
  ASSERT_EQ(link.OpenLink("stand-in"), 0);
  link.SetDriveOpen(true);
  ASSERT_EQ(link.Identify(), 1);
  ASSERT_EQ(link.RequestAccess(""), 1);
  RecordingCatalogue catalogue(link);
  catalogue.SetVisibleRows(0, 10);
  ASSERT_EQ(catalogue.RefreshRecordings(), 1);
  ASSERT_EQ(catalogue.RowCount(), 2u);
  EXPECT_EQ(catalogue.Row(0).entry, 1u);
  EXPECT_EQ(catalogue.Row(1).entry, 2u);
}

TEST_F(CatalogueTest, ACountTheListDoesNotHoldFailsFast) {
  recorder_.AddPcm("LYR0001", 16, 48000, 2, 1);
  recorder_.AddPcm("LYR0002", 16, 48000, 2, 2);
  recorder_.config().list_capacity = 1000;
  auto link = recorder_.MakeLink();
  RecordingCatalogue catalogue(*link);
  ASSERT_EQ(catalogue.RefreshRecordings(), 1);
  const struct {
    uint32_t count;
    uint32_t error;
  } cases[] = {
      {5, lyr::kErrorConnectionUnavail},  // the reply holds two entries and zeros
      {1001, lyr::kErrorInvalidData},     // more than the recorder can hold
      {1u << 20, lyr::kErrorInvalidData},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.count);
    recorder_.config().list_count_override = true;
    recorder_.config().list_count_value = c.count;
    const uint64_t before = InfoReads();
    const auto start = std::chrono::steady_clock::now();
    lyr::SetLastError(0);
    EXPECT_EQ(catalogue.RefreshRecordings(), 0);
    EXPECT_EQ(lyr::GetLastError(), c.error);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    EXPECT_EQ(InfoReads(), before) << "no row is asked for";
    EXPECT_EQ(catalogue.RowCount(), 2u) << "the rows stay as they were";
  }
}

}  // namespace
