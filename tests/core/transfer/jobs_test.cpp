#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "core/transfer/file_checks.h"
#include "core/transfer/test_reporter.h"
#include "platform/last_error.h"
#include "recordings/export_headers.h"
#include "support/emulated_recorder.h"
#include "support/file_size_limit.h"
#include "support/temp_dir.h"
#include "transfer/partial_file.h"
#include "transfer/sha1.h"
#include "transfer/transfer_jobs.h"

namespace {

namespace fs = std::filesystem;
using lyr::CopyOutcome;
constexpr lyr::ExportFormat kWave = lyr::ExportFormat::Wave;
constexpr lyr::ExportFormat kBwf = lyr::ExportFormat::Bwf;
constexpr lyr::ExportFormat kRaw = lyr::ExportFormat::Raw;

using lyr_test::ReadFile;
using lyr_test::Sha1Of;

TEST(ExportPaths, NamesBecomeSafeFileNamesInsideTheFolder) {
  const struct {
    const char* name;
    bool mpeg;
    lyr::ExportFormat mpeg_format;
    lyr::ExportFormat pcm_format;
    const char* file;
    const char* digest;
  } cases[] = {
      {"LYR0001", false, kBwf, kBwf, "LYR0001.wav", "LYR0001.txt"},
      {"LYR0001", true, kRaw, kBwf, "LYR0001.mp2", "LYR0001.txt"},
      {"LYR0001", true, kWave, kBwf, "LYR0001.wav", "LYR0001.txt"},
      {"LYR0001", false, kRaw, kRaw, "LYR0001.wav", "LYR0001.txt"},  // PCM is never raw
      {"a.b.c", false, kBwf, kBwf, "a.b.wav", "a.b.txt"},            // only the last dot's part goes
      {"name.", true, kRaw, kBwf, "name.mp2", "name.txt"},
      {"../../etc/x", false, kBwf, kBwf, "______etc_x.wav", "______etc_x.txt"},
      {"..", false, kBwf, kBwf, "__.wav", "__.txt"},
      {".hidden", false, kBwf, kBwf, "_hidden.wav", "_hidden.txt"},
      {"a\\b\nc\x7f", false, kBwf, kBwf, "a_b_c_.wav", "a_b_c_.txt"},
      {"", false, kBwf, kBwf, "_.wav", "_.txt"},
      // Latin-1 names become UTF-8 file names; C1 controls are controls too.
      {"Caf\xe9\x9b", false, kBwf, kBwf, "Caf\xc3\xa9_.wav", "Caf\xc3\xa9_.txt"},
  };
  for (const auto& c : cases) {
    lyr::RecordingRecord r;
    r.SetName(c.name);
    r.SetU32(lyr::record::kCodecId,
             c.mpeg ? lyr::protocol::kCodecMpegLayer2 : lyr::protocol::kCodecLinearPcm);
    lyr::CopyOptions options;
    options.mpeg_format = c.mpeg_format;
    options.pcm_format = c.pcm_format;
    // An empty folder is the current one, never the root.
    for (const auto& [folder, dir] : {std::pair{"/out", "/out/"}, {"/out/", "/out/"}, {"", "./"}}) {
      const lyr::ExportPaths p = lyr::ExportPathsFor(folder, r, options);
      EXPECT_EQ(p.target, std::string(dir) + c.file) << c.name;
      EXPECT_EQ(p.digest, std::string(dir) + c.digest) << c.name;
      EXPECT_EQ(p.file_name, c.file);
    }
  }
}

class JobsTest : public ::testing::Test {
 protected:
  JobsTest() {
    out_ = recorder_.dir().path() / "out";
    fs::create_directory(out_);
    options_.folder = out_.string();
    options_.device_id = "LYR0000001";
  }

  uint32_t AddMpeg(const std::string& name, uint32_t bytes, uint32_t entry = 0) {
    std::tm date{};
    lyr_emu::ParseDateTime("2011-08-19T10:20:36", &date);
    auto record = lyr_emu::MakeRecordingRecord(48000, 192000, 16, 2, lyr::protocol::kCodecMpegLayer2, date,
                                               name, "note");
    return recorder_.AddRecording(record, lyr_test::EmulatedRecorder::Pattern(bytes, bytes + 1), entry);
  }
  bool Copied(uint32_t entry) { return recorder_.store().Find(entry)->copied; }
  void Queue(std::initializer_list<uint32_t> entries) {
    queue_.Clear();
    queue_.entries.assign(entries);
  }
  bool Copy(std::vector<lyr::CopyResult>* results = nullptr) {
    return lyr::CopyJob(*link_, queue_, options_, reporter_, results);
  }
  void Connect() { link_ = recorder_.MakeLink(); }

  lyr_test::EmulatedRecorder recorder_;
  std::unique_ptr<lyr::RecorderLink> link_;
  fs::path out_;
  lyr::CopyOptions options_;
  lyr::JobQueue queue_;
  lyr_test::TestReporter reporter_;
};

TEST_F(JobsTest, CopiesEveryFormatWithHeadersDataAndDigests) {
  const uint32_t pcm = recorder_.AddPcm("LYR0001", 200000);
  const uint32_t mpeg = AddMpeg("LYR0002", 131072);
  const uint32_t mpeg_wave = AddMpeg("LYR0003.x", 5000);
  Connect();
  options_.mpeg_format = kRaw;
  options_.pcm_format = kBwf;
  options_.output_sha1 = true;
  Queue({pcm, mpeg});
  std::vector<lyr::CopyResult> results;
  ASSERT_TRUE(Copy(&results));

  const auto bwf = ReadFile(out_ / "LYR0001.wav");
  ASSERT_EQ(bwf.size(), 724u + 200000);
  lyr::RecordingRecord record(recorder_.store().Find(pcm)->record);
  std::vector<uint8_t> header(724);
  uint32_t size = 724;
  ASSERT_EQ(lyr::BuildBwfHeader(record, header.data(), &size, "LYR0001.wav", "LYR0000001"), 1);
  EXPECT_EQ(std::vector<uint8_t>(bwf.begin(), bwf.begin() + 724), header);
  EXPECT_EQ(std::vector<uint8_t>(bwf.begin() + 724, bwf.end()), recorder_.DataOf(pcm));
  EXPECT_EQ(ReadFile(out_ / "LYR0002.mp2"), recorder_.DataOf(mpeg));  // raw: the stream alone
  for (const char* stem : {"LYR0001", "LYR0002"}) {
    const auto text = ReadFile(out_ / (std::string(stem) + ".txt"));
    const auto copy = ReadFile(out_ / (std::string(stem) + (stem[6] == '1' ? ".wav" : ".mp2")));
    EXPECT_EQ(std::string(text.begin(), text.end()), Sha1Of(copy)) << stem;
  }
  EXPECT_TRUE(Copied(pcm));
  EXPECT_TRUE(Copied(mpeg));
  ASSERT_EQ(results.size(), 2u);
  EXPECT_EQ(results[0].outcome, CopyOutcome::Copied);
  EXPECT_TRUE(results[1].digest_written);
  EXPECT_EQ(reporter_.Events("status")[0], "status Preparing...");
  EXPECT_EQ(reporter_.Events("status")[1], "status Copying... LYR0001");
  EXPECT_EQ(reporter_.Events("status")[2], "status SHA1 Generating");
  EXPECT_TRUE(queue_.entries.empty());

  // Plain WAVE for MPEG; the name loses its last dot's part.
  options_.mpeg_format = kWave;
  options_.output_sha1 = false;
  Queue({mpeg_wave});
  ASSERT_TRUE(Copy());
  const auto wave = ReadFile(out_ / "LYR0003.wav");
  ASSERT_EQ(wave.size(), 100u + 5000);
  EXPECT_EQ(std::string(wave.begin() + 92, wave.begin() + 96), "data");
  EXPECT_FALSE(fs::exists(out_ / "LYR0003.txt"));
  EXPECT_FALSE(fs::exists(out_ / "LYR0003.wav.partial"));
}

TEST_F(JobsTest, ProgressSharesTheBarBetweenFiles) {
  const uint32_t a = recorder_.AddPcm("A", 131072);
  const uint32_t b = recorder_.AddPcm("B", 131072);
  Connect();
  options_.pcm_format = kWave;
  Queue({a, b});
  ASSERT_TRUE(Copy());
  EXPECT_EQ(reporter_.progress, (std::vector<int>{0, 25, 50, 75, 100}));
  EXPECT_EQ(reporter_.file_progress, (std::vector<int>{50, 100, 50, 100}));
}

TEST_F(JobsTest, CancelDuringTheThirdOfFiveLeavesTwoCompleteCopies) {
  std::vector<uint32_t> entries;
  for (int i = 1; i <= 5; ++i) entries.push_back(recorder_.AddPcm("R" + std::to_string(i), 300000));
  Connect();
  options_.output_sha1 = true;
  lyr_test::TestReporter window;
  bool third = false;
  window.on_event = [&](const std::string& e) {
    if (e == "status Copying... R3") third = true;
    if (third && e.rfind("file ", 0) == 0) window.cancel = true;  // after the first piece of R3
  };
  queue_.entries.assign(entries.begin(), entries.end());
  EXPECT_FALSE(lyr::CopyJob(*link_, queue_, options_, window));

  std::vector<std::string> files;
  for (const auto& f : fs::directory_iterator(out_)) files.push_back(f.path().filename().string());
  std::sort(files.begin(), files.end());
  EXPECT_EQ(files, (std::vector<std::string>{"R1.txt", "R1.wav", "R2.txt", "R2.wav"}));
  EXPECT_TRUE(Copied(entries[0]));
  EXPECT_TRUE(Copied(entries[1]));
  EXPECT_FALSE(Copied(entries[2]));
  EXPECT_EQ(queue_.entries.size(), 2u);  // R4 and R5 were never taken
}

TEST_F(JobsTest, NoToReplaceKeepsTheOldFileAndTheRecordingUnmarked) {
  const uint32_t e = recorder_.AddPcm("LYR0001", 1000);
  Connect();
  std::ofstream(out_ / "LYR0001.wav") << "old";
  reporter_.answer_yes = false;
  Queue({e});
  std::vector<lyr::CopyResult> results;
  ASSERT_TRUE(Copy(&results));
  EXPECT_EQ(reporter_.Events("ask"),
            (std::vector<std::string>{
                "ask Confirm File Replace: Would you like to replace the existing file with this one?"}));
  EXPECT_EQ(ReadFile(out_ / "LYR0001.wav"), (std::vector<uint8_t>{'o', 'l', 'd'}));
  EXPECT_FALSE(Copied(e));
  EXPECT_EQ(results.at(0).outcome, CopyOutcome::Declined);

  reporter_.answer_yes = true;
  Queue({e});
  ASSERT_TRUE(Copy());
  EXPECT_EQ(ReadFile(out_ / "LYR0001.wav").size(), 724u + 1000);
  EXPECT_TRUE(Copied(e));
}

TEST_F(JobsTest, RecordingsNamedAlikeGetFilesOfTheirOwn) {
  // Names alike, alike but for case, alike up to their last dot, and names
  // that become the same file name; PCM and raw MPEG of one name would also
  // share a digest file. Sizes differ, so each copy's bytes are its own.
  const struct {
    const char* name;
    bool mpeg;
    const char* file;
  } cases[] = {{"DUP", false, "DUP.wav"},      {"DUP", false, "DUP_2.wav"}, {"DUP", true, "DUP_3.mp2"},
               {"dup", false, "dup_4.wav"},    {"a.b", false, "a.wav"},     {"a.c", false, "a_2.wav"},
               {"", false, "_.wav"},           {".", false, "__2.wav"},     {"/", false, "__3.wav"},
               {"DUP_2", false, "DUP_2_2.wav"}};
  std::vector<uint32_t> entries;
  for (size_t i = 0; i < std::size(cases); ++i) {
    const uint32_t size = 1000 + static_cast<uint32_t>(i);
    entries.push_back(cases[i].mpeg ? AddMpeg(cases[i].name, size) : recorder_.AddPcm(cases[i].name, size));
  }
  Connect();
  options_.mpeg_format = kRaw;
  options_.output_sha1 = true;
  queue_.entries.assign(entries.begin(), entries.end());
  std::vector<lyr::CopyResult> results;
  ASSERT_TRUE(Copy(&results));

  EXPECT_TRUE(reporter_.Events("ask").empty()) << "a job never asks to replace a file it wrote itself";
  ASSERT_EQ(results.size(), std::size(cases));
  size_t files = 0;
  for (const auto& f : fs::directory_iterator(out_)) files += f.path().extension() != ".txt";
  EXPECT_EQ(files, std::size(cases));
  for (size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(cases[i].file);
    EXPECT_EQ(results[i].outcome, CopyOutcome::Copied);
    EXPECT_EQ(results[i].paths.file_name, cases[i].file);
    const auto copy = ReadFile(out_ / cases[i].file);
    const auto data = recorder_.DataOf(entries[i]);
    ASSERT_GE(copy.size(), data.size());
    EXPECT_TRUE(std::equal(data.begin(), data.end(), copy.end() - static_cast<ptrdiff_t>(data.size())));
    const auto digest = ReadFile(fs::path(results[i].paths.digest));
    EXPECT_EQ(std::string(digest.begin(), digest.end()), Sha1Of(copy));
    EXPECT_EQ(fs::path(results[i].paths.digest).stem(), fs::path(cases[i].file).stem());
    EXPECT_TRUE(Copied(entries[i]));
  }
  // The BWF header describes the file by the name it was given.
  const auto second = ReadFile(out_ / "DUP_2.wav");
  EXPECT_STREQ(reinterpret_cast<const char*>(second.data() + 20), "DUP_2.wav");
}

TEST_F(JobsTest, DigestFileThatCannotBeWrittenIsReportedAndNeverLeftIncomplete) {
  const uint32_t linked = recorder_.AddPcm("LINKED", 1000);
  const uint32_t full = recorder_.AddPcm("FULL", 1000);
  Connect();
  options_.output_sha1 = true;
  // A link where the digest goes is left as it is, and so is what it points at.
  const fs::path outside = recorder_.dir().path() / "outside";
  std::ofstream(outside) << "keep";
  fs::create_symlink(outside, out_ / "LINKED.txt");
  // The disk fills up while the digest of FULL is computed.
  rlimit old{};
  getrlimit(RLIMIT_FSIZE, &old);
  auto old_handler = std::signal(SIGXFSZ, SIG_IGN);
  bool limited = false;
  reporter_.on_event = [&](const std::string& e) {
    if (e == "status Copying... FULL") limited = false;
    if (e == "status SHA1 Generating" && !limited && fs::exists(out_ / "FULL.wav")) {
      rlimit small = old;
      small.rlim_cur = 10;
      limited = setrlimit(RLIMIT_FSIZE, &small) == 0;
    }
  };
  Queue({linked, full});
  std::vector<lyr::CopyResult> results;
  const bool ok = Copy(&results);
  setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, old_handler);
  ASSERT_TRUE(limited);

  EXPECT_TRUE(ok);
  ASSERT_EQ(results.size(), 2u);
  for (const auto& r : results) {
    EXPECT_EQ(r.outcome, CopyOutcome::Copied) << r.name;  // the copies themselves are whole
    EXPECT_FALSE(r.digest_written) << r.name;
    ASSERT_TRUE(r.digest_error.has_value()) << r.name;
  }
  EXPECT_EQ(results[0].digest_error->os_error, ELOOP);
  EXPECT_NE(results[0].digest_error->Message().find((out_ / "LINKED.txt").string()), std::string::npos);
  EXPECT_TRUE(fs::is_symlink(out_ / "LINKED.txt"));
  EXPECT_EQ(ReadFile(outside), (std::vector<uint8_t>{'k', 'e', 'e', 'p'}));
  EXPECT_EQ(results[1].digest_error->os_error, EFBIG);
  EXPECT_EQ(results[1].digest_error->context, (out_ / "FULL.txt").string());
  EXPECT_FALSE(fs::exists(out_ / "FULL.txt")) << "no digest file with less than the digest";
}

TEST_F(JobsTest, ReadErrorKeepsThePartialCopyAwayFromTheTargetAndEndsTheJob) {
  const uint32_t e = recorder_.AddPcm("LYR0001", 300000);
  const uint32_t next = recorder_.AddPcm("LYR0002", 1000);
  Connect();
  recorder_.config().read_fail_offset = 100000;
  options_.output_sha1 = true;
  Queue({e, next});
  std::vector<lyr::CopyResult> results;
  lyr::SetLastError(0);
  EXPECT_FALSE(Copy(&results));
  EXPECT_EQ(lyr::GetLastError(), lyr::kErrorConnectionUnavail);
  EXPECT_EQ(reporter_.Events("warning"), (std::vector<std::string>{"warning Error: Read file error!"}));
  EXPECT_FALSE(fs::exists(out_ / "LYR0001.wav"));
  EXPECT_FALSE(fs::exists(out_ / "LYR0001.txt"));
  EXPECT_EQ(fs::file_size(out_ / "LYR0001.wav.partial"), 724u + 65536);
  EXPECT_FALSE(Copied(e));
  EXPECT_EQ(results.at(0).outcome, CopyOutcome::ReadFailed);
  ASSERT_TRUE(results[0].error.has_value());
  EXPECT_EQ(results[0].error->code, lyr::kErrorConnectionUnavail);
  EXPECT_EQ(results[0].error->context, "data of LYR0001 at byte 65536");
  EXPECT_FALSE(fs::exists(out_ / "LYR0002.wav"));
}

TEST_F(JobsTest, ShortWriteKeepsThePartialCopyUnmarkedWithoutDigest) {
  const uint32_t big = recorder_.AddPcm("BIG", 300000);
  const uint32_t small = recorder_.AddPcm("SMALL", 1000);
  Connect();
  options_.output_sha1 = true;
  Queue({big, small});
  std::vector<lyr::CopyResult> results;
  bool ok = false;
  {
    // Files of this process may not grow beyond 100,000 bytes for a while.
    const lyr_test::FileSizeLimit limit(100000);
    ASSERT_TRUE(limit.set());
    ok = Copy(&results);
  }

  EXPECT_TRUE(ok);  // the job goes on with the next recording
  EXPECT_EQ(reporter_.Events("warning"),
            (std::vector<std::string>{"warning Error: Write local file error!"}));
  EXPECT_FALSE(fs::exists(out_ / "BIG.wav"));
  EXPECT_FALSE(fs::exists(out_ / "BIG.txt"));
  EXPECT_EQ(fs::file_size(out_ / "BIG.wav.partial"), 100000u);
  EXPECT_FALSE(Copied(big));
  ASSERT_EQ(results.size(), 2u);
  EXPECT_EQ(results[0].outcome, CopyOutcome::WriteFailed);
  ASSERT_TRUE(results[0].error.has_value());
  EXPECT_EQ(results[0].error->os_error, EFBIG);
  EXPECT_EQ(results[0].error->context, (out_ / "BIG.wav.partial").string());
  EXPECT_EQ(results[1].outcome, CopyOutcome::Copied);
  EXPECT_TRUE(fs::exists(out_ / "SMALL.txt"));
  EXPECT_TRUE(Copied(small));
}

TEST_F(JobsTest, CreateErrorsSkipTheRecordingAndLinksAreNotFollowed) {
  const uint32_t a = recorder_.AddPcm("A", 1000);
  const uint32_t b = recorder_.AddPcm("B", 1000);
  Connect();
  // A link planted where the copy is written must not carry it out of the folder.
  const fs::path outside = recorder_.dir().path() / "outside";
  std::ofstream(outside) << "keep";
  fs::create_symlink(outside, out_ / "A.wav.partial");
  Queue({a, b});
  std::vector<lyr::CopyResult> results;
  ASSERT_TRUE(Copy(&results));
  EXPECT_EQ(reporter_.Events("warning"),
            (std::vector<std::string>{"warning Error: Create local file error!"}));
  EXPECT_EQ(ReadFile(outside), (std::vector<uint8_t>{'k', 'e', 'e', 'p'}));
  EXPECT_EQ(results.at(0).outcome, CopyOutcome::CreateFailed);
  ASSERT_TRUE(results[0].error.has_value());
  EXPECT_EQ(results[0].error->os_error, ELOOP);
  EXPECT_EQ(results[0].error->context, (out_ / "A.wav.partial").string());
  EXPECT_FALSE(Copied(a));
  EXPECT_TRUE(Copied(b));

  options_.folder = (out_ / "missing").string();
  Queue({a});
  results.clear();
  ASSERT_TRUE(Copy(&results));
  EXPECT_EQ(reporter_.Events("warning").size(), 2u);
  ASSERT_TRUE(results.at(0).error.has_value());
  EXPECT_EQ(results[0].error->Message(),
            (out_ / "missing" / "A.wav.partial").string() + ": No such file or directory");
}

TEST(ExportFolder, IsMadeOrRefusedWithTheReason) {
  lyr_test::TempDir dir;
  const fs::path file = dir / "file";
  std::ofstream(file) << "x";
  EXPECT_TRUE(lyr::MakeExportFolder(dir.path().string()).ok());
  EXPECT_TRUE(lyr::MakeExportFolder((dir / "a/b/c/").string()).ok());
  EXPECT_TRUE(fs::is_directory(dir / "a/b/c"));
  for (const fs::path& bad : {file, file / "sub"}) {
    const lyr::Status made = lyr::MakeExportFolder(bad.string());
    ASSERT_FALSE(made.ok()) << bad;
    EXPECT_EQ(made.error().Message(), bad.string() + ": Not a directory");
  }
  if (::geteuid() != 0) {  // the superuser writes into read-only folders
    fs::create_directory(dir / "ro");
    fs::permissions(dir / "ro", fs::perms::owner_read | fs::perms::owner_exec);
    const lyr::Status made = lyr::MakeExportFolder((dir / "ro/sub").string());
    ASSERT_FALSE(made.ok());
    EXPECT_EQ(made.error().os_error, EACCES);
  }
}

TEST(PartialFile, IsRemovedUnlessCommittedOrKept) {
  lyr_test::TempDir dir;
  const std::string target = (dir / "t.wav").string();
  {
    auto file = lyr::PartialFile::Create(target);
    ASSERT_TRUE(file.ok());
    EXPECT_TRUE(fs::exists(target + ".partial"));
  }
  EXPECT_FALSE(fs::exists(target + ".partial")) << "dropped";
  {
    auto file = lyr::PartialFile::Create(target);
    ASSERT_TRUE(file.ok());
    file.value().Keep();
  }
  EXPECT_TRUE(fs::exists(target + ".partial")) << "kept";
  // Without leave to replace, a file that turned up under the target stays.
  std::ofstream(target) << "other";
  {
    auto file = lyr::PartialFile::Create(target);
    ASSERT_TRUE(file.ok());
    const lyr::Status committed = file.value().Commit(false);
    ASSERT_FALSE(committed.ok());
    EXPECT_EQ(committed.error().os_error, EEXIST);
    ASSERT_TRUE(file.value().Commit(true).ok());
  }
  EXPECT_FALSE(fs::exists(target + ".partial"));
  EXPECT_EQ(fs::file_size(target), 0u);
}

TEST_F(JobsTest, FailedCopiedMarkEndsTheJob) {
  const uint32_t a = recorder_.AddPcm("A", 1000);
  const uint32_t b = recorder_.AddPcm("B", 1000);
  Connect();
  // Record and one data read go through; the copied mark does not.
  recorder_.config().disconnect_after = recorder_.emulator().stats().commands + 2;
  Queue({a, b});
  std::vector<lyr::CopyResult> results;
  EXPECT_FALSE(Copy(&results));
  EXPECT_EQ(reporter_.Events("warning"), (std::vector<std::string>{"warning Error: Access LYR Failed!"}));
  EXPECT_EQ(results.at(0).outcome, CopyOutcome::MarkFailed);
  EXPECT_EQ(fs::file_size(out_ / "A.wav"), 724u + 1000);  // the copy itself is complete
  EXPECT_EQ(queue_.entries.size(), 1u);
}

TEST_F(JobsTest, EmptyQueueEndsAtOnceWithSuccess) {
  Connect();
  EXPECT_TRUE(lyr::CopyJob(*link_, queue_, options_, reporter_));
  EXPECT_EQ(reporter_.events, (std::vector<std::string>{"status Preparing...", "progress 0"}));
}

TEST_F(JobsTest, DeleteRemovesAndWaitsWhileTheRecorderIsBusy) {
  const uint32_t a = recorder_.AddPcm("A", 1000);
  const uint32_t b = recorder_.AddPcm("B", 1000);
  Connect();
  recorder_.config().delete_busy_polls = 5;
  Queue({a, b});
  ASSERT_TRUE(lyr::DeleteJob(*link_, queue_, reporter_));
  EXPECT_EQ(queue_.done, (std::vector<uint32_t>{a, b}));
  EXPECT_TRUE(recorder_.store().recordings().empty());
  EXPECT_EQ(
      reporter_.Events("status"),
      (std::vector<std::string>{"status Preparing...", "status Deleting... A", "status Deleting... B"}));
  EXPECT_EQ(reporter_.progress, (std::vector<int>{0, 50}));
}

TEST_F(JobsTest, DeleteThatStaysBusyOrFailsLeavesTheEntryOut) {
  const uint32_t a = recorder_.AddPcm("A", 1000);
  const uint32_t b = recorder_.AddPcm("B", 1000);
  Connect();
  recorder_.config().delete_busy_polls = -1;
  Queue({a});
  const uint64_t before = recorder_.emulator().stats().commands;
  ASSERT_TRUE(lyr::DeleteJob(*link_, queue_, reporter_));
  EXPECT_TRUE(queue_.done.empty());
  EXPECT_EQ(recorder_.emulator().stats().commands - before, 1u + 1 + 1000);  // record, delete, 1000 polls

  recorder_.config().delete_busy_polls = 0;
  recorder_.config().delete_fails = true;
  Queue({b});
  ASSERT_TRUE(lyr::DeleteJob(*link_, queue_, reporter_));
  EXPECT_TRUE(queue_.done.empty());
  EXPECT_EQ(reporter_.Events("error"),
            (std::vector<std::string>{"error Error: There is an error occured in deleting file!"}));
  EXPECT_NE(recorder_.store().Find(b), nullptr);

  // A recorder gone during the job ends it as failed.
  recorder_.config().delete_fails = false;
  recorder_.emulator().SetConnected(false);
  Queue({b});
  EXPECT_FALSE(lyr::DeleteJob(*link_, queue_, reporter_));
}

TEST_F(JobsTest, AfterADeleteGivesUpTheListSaysWhatIsStillThere) {
  const uint32_t late = recorder_.AddPcm("LATE", 1000);
  const uint32_t stays = recorder_.AddPcm("STAYS", 1000);
  const uint32_t other = recorder_.AddPcm("OTHER", 1000);
  Connect();
  // Done after more busy polls than the job makes: gone, though not in the done list.
  recorder_.config().delete_busy_polls = 1500;
  Queue({late});
  ASSERT_TRUE(lyr::DeleteJob(*link_, queue_, reporter_));
  EXPECT_TRUE(queue_.done.empty());
  recorder_.config().delete_busy_polls = -1;
  Queue({stays});
  ASSERT_TRUE(lyr::DeleteJob(*link_, queue_, reporter_));
  EXPECT_TRUE(queue_.done.empty());

  const std::vector<uint32_t> asked = {late, stays};
  auto listed = lyr::EntriesStillListed(*link_, asked);
  ASSERT_TRUE(listed.ok());
  EXPECT_EQ(listed.value(), (std::vector<uint32_t>{stays}));
  EXPECT_NE(recorder_.store().Find(other), nullptr);

  recorder_.emulator().SetConnected(false);
  EXPECT_FALSE(lyr::EntriesStillListed(*link_, asked).ok());
}

TEST_F(JobsTest, CancelledDeleteKeepsWhatIsDoneAndSucceeds) {
  const uint32_t a = recorder_.AddPcm("A", 1000);
  const uint32_t b = recorder_.AddPcm("B", 1000);
  Connect();
  reporter_.on_event = [&](const std::string& e) {
    if (e == "status Deleting... A") reporter_.cancel = true;
  };
  Queue({a, b});
  EXPECT_TRUE(lyr::DeleteJob(*link_, queue_, reporter_));
  EXPECT_EQ(queue_.done, (std::vector<uint32_t>{a}));
  EXPECT_NE(recorder_.store().Find(b), nullptr);
}

}  // namespace
