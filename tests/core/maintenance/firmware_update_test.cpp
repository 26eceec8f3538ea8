// The update file's unscrambling and checks, and the update itself against
// the in-process stand-in: pieces, read-back and the faults it injects.
#include "maintenance/firmware_update.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "core/maintenance/test_reporter.h"
#include "emulator/update_packer.h"
#include "platform/byte_order.h"
#include "support/emulated_recorder.h"

namespace {

using lyr::FirmwareUpdateOutcome;
using lyr_test::MaintenanceSpy;
namespace fs = std::filesystem;

std::vector<uint8_t> Unscrambled(const std::vector<uint8_t>& file, int* result) {
  std::vector<uint8_t> out(file.size());
  size_t length = 0;
  *result = lyr::UnscrambleUpdate(out.data(), out.size(), file.data(), file.size(), &length);
  out.resize(*result == 0 ? length : 0);
  return out;
}

void WriteFile(const fs::path& path, const std::vector<uint8_t>& bytes) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

TEST(UnscrambleUpdate, ShufflesWholeBlocksAndOnlyReversesTheLastPiece) {
  // Worked out by hand from the layout, not from the packer: output byte i of
  // a whole block is the complement of byte 2047 - i of Q2 Q0 Q3 Q1.
  std::vector<uint8_t> in(2052);
  for (size_t i = 0; i < in.size(); ++i) in[i] = static_cast<uint8_t>(i * 31 + i / 256);
  uint32_t sum = 0, word_xor = 0;
  lyr::UpdateTrailer(in, &sum, &word_xor);
  std::vector<uint8_t> file = in;
  file.resize(in.size() + 8);
  lyr::PutU32(&file[2052], sum);
  lyr::PutU32(&file[2056], word_xor);
  int result = -9;
  const auto out = Unscrambled(file, &result);
  ASSERT_EQ(result, 0);
  ASSERT_EQ(out.size(), 2052u);
  const auto inv = [&](size_t i) { return static_cast<uint8_t>(~in[i]); };
  EXPECT_EQ(out[0], inv(1023));     // last byte of Q1
  EXPECT_EQ(out[511], inv(512));    // first byte of Q1
  EXPECT_EQ(out[512], inv(2047));   // last byte of Q3
  EXPECT_EQ(out[1024], inv(511));   // last byte of Q0
  EXPECT_EQ(out[1536], inv(1535));  // last byte of Q2
  EXPECT_EQ(out[2047], inv(1024));  // first byte of Q2
  // The 4-byte last piece is reversed and complemented, not shuffled.
  EXPECT_EQ(out[2048], inv(2051));
  EXPECT_EQ(out[2051], inv(2048));
}

TEST(UnscrambleUpdate, RoundTripsThroughThePackerAtTheBlockEdges) {
  for (size_t size : {size_t{0}, size_t{100}, size_t{2044}, size_t{2048}, size_t{2052}, size_t{4096},
                      size_t{4100}, lyr::kMaxUpdateFileSize - 8}) {
    SCOPED_TRACE(size);
    const auto image = lyr_test::EmulatedRecorder::Pattern(size, static_cast<uint32_t>(size));
    const auto packed = lyr_emu::PackUpdate(image);
    ASSERT_TRUE(packed) << packed.error().context;
    EXPECT_EQ(packed.value().size(), size + 8);
    int result = -9;
    EXPECT_EQ(Unscrambled(packed.value(), &result), image);
    EXPECT_EQ(result, 0);
  }
}

TEST(UnscrambleUpdate, RefusesWithTheDocumentedCodes) {
  const auto good = lyr_emu::ScrambleImage(lyr_test::EmulatedRecorder::Pattern(5000, 3));
  std::vector<uint8_t> out(good.size());
  size_t length = 0;
  // A 2049-byte image makes a file of 2057 bytes: not whole words.
  const auto odd = lyr_emu::ScrambleImage(lyr_test::EmulatedRecorder::Pattern(2049, 4));
  std::vector<uint8_t> odd_out(odd.size());
  EXPECT_EQ(lyr::UnscrambleUpdate(odd_out.data(), odd_out.size(), odd.data(), odd.size(), &length), -3);
  // Trailer sum off by one, or the exclusive-or.
  for (size_t at : {good.size() - 8, good.size() - 4}) {
    auto bad = good;
    lyr::PutU32(&bad[at], lyr::GetU32(&bad[at]) + 1);
    EXPECT_EQ(lyr::UnscrambleUpdate(out.data(), out.size(), bad.data(), bad.size(), &length), -2) << at;
  }
  // No room for the image, no buffer, no trailer.
  EXPECT_EQ(lyr::UnscrambleUpdate(out.data(), good.size() - 9, good.data(), good.size(), &length), -1);
  EXPECT_EQ(lyr::UnscrambleUpdate(nullptr, out.size(), good.data(), good.size(), &length), -1);
  EXPECT_EQ(lyr::UnscrambleUpdate(out.data(), out.size(), good.data(), 4, &length), -2);
  EXPECT_EQ(lyr::UnscrambleUpdate(out.data(), out.size(), good.data(), good.size(), &length), 0);
  EXPECT_EQ(length, 5000u);
}

// An update file on disk and a stand-in recorder to send it to.
class FirmwareUpdate : public ::testing::Test {
 protected:
  // Keeps every 2048-byte write, to see the pieces as sent.
  class PieceLog final : public lyr::BlockDevice {
   public:
    PieceLog(std::unique_ptr<lyr::BlockDevice> inner, std::vector<std::vector<uint8_t>>* pieces)
        : inner_(std::move(inner)), pieces_(pieces) {}
    bool ReadAt(uint64_t offset, void* buffer, size_t length, size_t* done) override {
      return inner_->ReadAt(offset, buffer, length, done);
    }
    bool WriteAt(uint64_t offset, const void* buffer, size_t length, size_t* done) override {
      const auto* p = static_cast<const uint8_t*>(buffer);
      if (length == 2048) pieces_->emplace_back(p, p + length);
      return inner_->WriteAt(offset, buffer, length, done);
    }

   private:
    std::unique_ptr<lyr::BlockDevice> inner_;
    std::vector<std::vector<uint8_t>>* pieces_;
  };

  void SetUp() override {
    link_ = std::make_unique<lyr::RecorderLink>([this](const std::string&) {
      return lyr::RawDriveOpenResult(std::make_unique<PieceLog>(rec_.emulator().Connect(), &pieces_));
    });
    link_->SetSettleDelay(std::chrono::milliseconds(0));
    link_->ResetLinkState();
    ASSERT_EQ(link_->OpenLink("stand-in"), 0);
    link_->SetDriveOpen(true);
    ASSERT_EQ(link_->Identify(), 1);
    ASSERT_EQ(link_->RequestAccess(""), 1);
  }

  fs::path Pack(const std::vector<uint8_t>& image, const char* name = "fw.coe") {
    const auto packed = lyr_emu::PackUpdate(image);
    EXPECT_TRUE(packed);
    const fs::path path = rec_.dir() / name;
    WriteFile(path, packed ? packed.value() : std::vector<uint8_t>{});
    return path;
  }

  FirmwareUpdateOutcome Update(const fs::path& file, uint16_t firmware = 6021) {
    return lyr::UpdateFirmware(*link_, firmware, file.string(), spy_);
  }

  std::string OnlyMessage() const {
    EXPECT_EQ(spy_.messages.size(), 1u);
    return spy_.messages.empty() ? "" : spy_.messages.front().text;
  }

  lyr_test::EmulatedRecorder rec_;
  std::vector<std::vector<uint8_t>> pieces_;
  std::unique_ptr<lyr::RecorderLink> link_;
  MaintenanceSpy spy_;
};

TEST_F(FirmwareUpdate, FiveThousandBytesGoAsThreeZeroFilledPiecesAndAreVerified) {
  const auto image = lyr_emu::MakeSampleImage(5000);
  ASSERT_EQ(Update(Pack(image)), FirmwareUpdateOutcome::kUpdated);
  ASSERT_EQ(pieces_.size(), 3u);
  EXPECT_TRUE(std::equal(image.begin(), image.begin() + 2048, pieces_[0].begin()));
  EXPECT_TRUE(std::equal(image.begin() + 4096, image.end(), pieces_[2].begin()));  // 904 image bytes
  EXPECT_TRUE(std::all_of(pieces_[2].begin() + 904, pieces_[2].end(), [](uint8_t b) { return b == 0; }));
  EXPECT_EQ(rec_.store().firmware(), image);
  ASSERT_EQ(spy_.messages.size(), 1u);
  EXPECT_EQ(spy_.messages[0].text, lyr::kUpdateSucceeded);
  EXPECT_EQ(spy_.messages[0].caption, "Information");
  EXPECT_EQ(spy_.last_progress, 100);
  // Released as "Safely Remove" does.
  EXPECT_FALSE(link_->IsDriveOpen());
  EXPECT_FALSE(link_->IsAccessGranted());
}

TEST_F(FirmwareUpdate, FilesThatAreNoUpdateAreRefusedBeforeAnythingIsSent) {
  const auto valid = lyr_emu::MakeSampleImage(5000);
  auto bad_magic = valid;
  bad_magic[0] ^= 1;
  auto bad_name = valid;
  bad_name[12] = 'X';
  auto long_name = valid;  // the first name must end within its 16 bytes
  std::fill(long_name.begin() + 12, long_name.begin() + 28, 'A');
  auto bad_second = valid;
  bad_second[28] = 'q';
  auto qfs = valid;  // the other name is as good
  std::memset(&qfs[12], 0, 16);
  std::memcpy(&qfs[12], "QFS 1.1", 7);
  const fs::path odd_length = rec_.dir() / "odd.coe";
  WriteFile(odd_length, std::vector<uint8_t>(5002, 0));
  const fs::path sum_off = rec_.dir() / "sum.coe";
  {
    auto file = lyr_emu::ScrambleImage(valid);
    lyr::PutU32(&file[5000], lyr::GetU32(&file[5000]) + 1);
    WriteFile(sum_off, file);
  }
  const fs::path too_long = rec_.dir() / "long.coe";
  std::ofstream{too_long}.close();
  fs::resize_file(too_long, lyr::kMaxUpdateFileSize + 1);
  // Empty, or cut short of its trailer: no update file, not a memory shortage.
  const fs::path empty = rec_.dir() / "empty.coe", cut = rec_.dir() / "cut.coe";
  std::ofstream{empty}.close();
  WriteFile(cut, {1, 2, 3, 4});
  struct Case {
    fs::path file;
    const char* message;
  };
  const Case cases[] = {
      {Pack(bad_magic, "magic.coe"), lyr::kUpdateFormatError},
      {Pack(bad_name, "name.coe"), lyr::kUpdateFormatError},
      {Pack(long_name, "long-name.coe"), lyr::kUpdateFormatError},
      {Pack(bad_second, "second.coe"), lyr::kUpdateFormatError},
      {odd_length, lyr::kUpdateFormatError},
      {sum_off, lyr::kUpdateFormatError},
      {too_long, lyr::kUpdateFormatError},
      {empty, lyr::kUpdateFormatError},
      {cut, lyr::kUpdateFormatError},
      {rec_.dir() / "missing.coe", lyr::kUpdateReadError},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file.filename().string());
    spy_.messages.clear();
    EXPECT_EQ(Update(c.file), FirmwareUpdateOutcome::kFileRefused);
    EXPECT_EQ(OnlyMessage(), c.message);
    EXPECT_EQ(spy_.messages.at(0).caption, "Error");
  }
  EXPECT_TRUE(pieces_.empty());
  EXPECT_TRUE(rec_.store().firmware().empty());
  spy_.messages.clear();
  EXPECT_EQ(Update(Pack(qfs, "qfs.coe")), FirmwareUpdateOutcome::kUpdated);
}

TEST_F(FirmwareUpdate, AnOldRecorderOrImageGetsTheWarningAndNothingIsSent) {
  auto low_target = lyr_emu::MakeSampleImage(5000);
  lyr::PutU32(&low_target[4], lyr::kUpdateImageMinimumTarget - 1);
  struct Case {
    std::vector<uint8_t> image;
    uint16_t firmware;
  };
  for (const Case& c : {Case{lyr_emu::MakeSampleImage(5000), 5999}, Case{low_target, 6021}}) {
    spy_.messages.clear();
    EXPECT_EQ(Update(Pack(c.image), c.firmware), FirmwareUpdateOutcome::kNotLyr);
    EXPECT_EQ(OnlyMessage(), "The machine connected is not a LYR, update failed");
    EXPECT_EQ(spy_.messages.at(0).caption, "Warning");
  }
  EXPECT_TRUE(pieces_.empty());
  EXPECT_TRUE(link_->IsAccessGranted());
}

TEST_F(FirmwareUpdate, InjectedFaultsEndWithTheirMessagesAndNeverAsSuccess) {
  struct Case {
    const char* name;
    uint32_t write_fail = 0, bad_piece = 0;
    int32_t length_delta = 0;
    FirmwareUpdateOutcome outcome;
    const char* message;
  };
  const Case cases[] = {
      {"write fails at piece 2", 2, 0, 0, FirmwareUpdateOutcome::kUpdateFailed, lyr::kUpdateProblem},
      {"read-back differs at piece 3", 0, 3, 0, FirmwareUpdateOutcome::kVerifyFailed, lyr::kVerifyFailed},
      {"read-back longer than the image", 0, 0, 2048, FirmwareUpdateOutcome::kVerifyFailed,
       lyr::kVerifyFailed},
      {"read-back one byte longer", 0, 0, 1, FirmwareUpdateOutcome::kVerifyFailed, lyr::kVerifyFailed},
      // A shorter read-back would leave the last piece unchecked.
      {"read-back shorter than the image", 0, 0, -2048, FirmwareUpdateOutcome::kVerifyFailed,
       lyr::kVerifyFailed},
      {"read-back of nothing", 0, 0, -5000, FirmwareUpdateOutcome::kVerifyFailed, lyr::kVerifyFailed},
  };
  const fs::path file = Pack(lyr_emu::MakeSampleImage(5000));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    rec_.config().firmware_write_fail_piece = c.write_fail;
    rec_.config().firmware_readback_bad_piece = c.bad_piece;
    rec_.config().firmware_status_length_delta = c.length_delta;
    spy_.messages.clear();
    EXPECT_EQ(Update(file), c.outcome);
    EXPECT_EQ(OnlyMessage(), c.message);
    EXPECT_EQ(spy_.messages.at(0).caption, "Error");
    // The recorder stays connected, to be told what to do.
    EXPECT_TRUE(link_->IsAccessGranted());
  }
}

TEST_F(FirmwareUpdate, ACancelBeforeTheFirstWriteSendsNothing) {
  spy_.cancel = true;
  EXPECT_EQ(Update(Pack(lyr_emu::MakeSampleImage(5000))), FirmwareUpdateOutcome::kCancelled);
  EXPECT_TRUE(pieces_.empty());
  EXPECT_TRUE(spy_.messages.empty());
}

// A stop asked while the image is written waits for the last write (a cut
// image would leave the recorder without a whole firmware), then ends before
// or during the read-back: never as a success, and the recorder not released.
TEST_F(FirmwareUpdate, ACancelAfterTheFirstWriteEndsUnverified) {
  const fs::path file = Pack(lyr_emu::MakeSampleImage(5000));  // 3 pieces: writes at 0-50 %
  for (const int from : {10, 60}) {
    SCOPED_TRACE(from);
    pieces_.clear();
    spy_.cancel = false;
    spy_.cancel_from_percent = from;
    EXPECT_EQ(Update(file), FirmwareUpdateOutcome::kVerifyCancelled);
    EXPECT_EQ(pieces_.size(), 3u) << "every piece is written";
    EXPECT_LT(spy_.last_progress, 100);
    EXPECT_TRUE(spy_.messages.empty());
    EXPECT_TRUE(link_->IsAccessGranted());
  }
}

}  // namespace
