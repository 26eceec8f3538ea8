#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/last_error.h"
#include "recordings/export_headers.h"
#include "support/emulated_recorder.h"
#include "transfer/progress_job.h"
#include "transfer/sha1.h"
#include "transfer/test_reporter.h"
#include "transfer/transfer_jobs.h"

namespace {

namespace fs = std::filesystem;
using lyr::CopyOutcome;

std::vector<uint8_t> ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string Sha1Of(const std::vector<uint8_t>& bytes) {
  lyr::Sha1Context* c = lyr::Sha1Create();
  lyr::Sha1Digest d{};
  lyr::Sha1Update(c, bytes.data(), static_cast<uint32_t>(bytes.size()), d.data());
  lyr::Sha1Free(c);
  return lyr::Sha1DigestText(d.data());
}

TEST(ExportPaths, NamesBecomeSafeFileNamesInsideTheFolder) {
  const struct {
    const char* name;
    bool mpeg;
    int mpeg_format;
    int pcm_format;
    const char* file;
    const char* digest;
  } cases[] = {
      {"LYR0001", false, 1, 1, "LYR0001.wav", "LYR0001.txt"},
      {"LYR0001", true, 2, 1, "LYR0001.mp2", "LYR0001.txt"},
      {"LYR0001", true, 0, 1, "LYR0001.wav", "LYR0001.txt"},
      {"LYR0001", false, 2, 2, "LYR0001.wav", "LYR0001.txt"},  // PCM is never raw
      {"a.b.c", false, 1, 1, "a.b.wav", "a.b.txt"},            // only the last dot's part goes
      {"name.", true, 2, 1, "name.mp2", "name.txt"},
      {"../../etc/x", false, 1, 1, "______etc_x.wav", "______etc_x.txt"},
      {"..", false, 1, 1, "__.wav", "__.txt"},
      {".hidden", false, 1, 1, "_hidden.wav", "_hidden.txt"},
      {"a\\b\nc\x7f", false, 1, 1, "a_b_c_.wav", "a_b_c_.txt"},
      {"", false, 1, 1, "_.wav", "_.txt"},
  };
  for (const auto& c : cases) {
    lyr::RecordingRecord r;
    r.SetName(c.name);
    r.SetU32(lyr::record::kCodecId, c.mpeg ? lyr::protocol::kCodecMpegLayer2 : lyr::protocol::kCodecLinearPcm);
    lyr::CopyOptions options;
    options.mpeg_format = c.mpeg_format;
    options.pcm_format = c.pcm_format;
    for (const char* folder : {"/out", "/out/"}) {
      const lyr::ExportPaths p = lyr::ExportPathsFor(folder, r, options);
      EXPECT_EQ(p.target, std::string("/out/") + c.file) << c.name;
      EXPECT_EQ(p.digest, std::string("/out/") + c.digest) << c.name;
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
    auto record =
        lyr_emu::MakeRecordingRecord(48000, 192000, 16, 2, lyr::protocol::kCodecMpegLayer2, date, name, "note");
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
  options_.mpeg_format = lyr::kExportRaw;
  options_.pcm_format = lyr::kExportBwf;
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
  options_.mpeg_format = lyr::kExportWave;
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
  options_.pcm_format = lyr::kExportWave;
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
  lyr::ProgressJob job(
      window, [&](lyr::JobReporter& reporter) { return lyr::CopyJob(*link_, queue_, options_, reporter); });
  window.on_event = [&](const std::string& e) {
    if (e == "status Copying... R3") third = true;
    if (third && e.rfind("file ", 0) == 0) job.RequestCancel();  // after the first piece of R3
  };
  queue_.entries.assign(entries.begin(), entries.end());
  ASSERT_TRUE(job.Start());
  while (!job.CancelFlag()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  job.Cancel();
  EXPECT_EQ(job.Wait(), lyr::kJobCancelled);

  std::vector<std::string> files;
  for (const auto& f : fs::directory_iterator(out_)) files.push_back(f.path().filename().string());
  std::sort(files.begin(), files.end());
  EXPECT_EQ(files, (std::vector<std::string>{"R1.txt", "R1.wav", "R2.txt", "R2.wav"}));
  EXPECT_TRUE(Copied(entries[0]));
  EXPECT_TRUE(Copied(entries[1]));
  EXPECT_FALSE(Copied(entries[2]));
  EXPECT_EQ(queue_.entries.size(), 2u);  // R4 and R5 were never taken
  EXPECT_EQ(window.Events("status").back(), "status Terminating...");
  EXPECT_TRUE(window.Events("ended").empty());  // a cancelled job does not report its end
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
  EXPECT_FALSE(fs::exists(out_ / "LYR0002.wav"));
}

TEST_F(JobsTest, ShortWriteKeepsThePartialCopyUnmarkedWithoutDigest) {
  const uint32_t big = recorder_.AddPcm("BIG", 300000);
  const uint32_t small = recorder_.AddPcm("SMALL", 1000);
  Connect();
  options_.output_sha1 = true;
  Queue({big, small});
  std::vector<lyr::CopyResult> results;
  // Files of this process may not grow beyond 100,000 bytes for a while.
  rlimit old{};
  getrlimit(RLIMIT_FSIZE, &old);
  auto old_handler = std::signal(SIGXFSZ, SIG_IGN);
  rlimit small_limit = old;
  small_limit.rlim_cur = 100000;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small_limit), 0);
  const bool ok = Copy(&results);
  setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, old_handler);

  EXPECT_TRUE(ok);  // the job goes on with the next recording
  EXPECT_EQ(reporter_.Events("warning"),
            (std::vector<std::string>{"warning Error: Write local file error!"}));
  EXPECT_FALSE(fs::exists(out_ / "BIG.wav"));
  EXPECT_FALSE(fs::exists(out_ / "BIG.txt"));
  EXPECT_EQ(fs::file_size(out_ / "BIG.wav.partial"), 100000u);
  EXPECT_FALSE(Copied(big));
  ASSERT_EQ(results.size(), 2u);
  EXPECT_EQ(results[0].outcome, CopyOutcome::WriteFailed);
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
  EXPECT_FALSE(Copied(a));
  EXPECT_TRUE(Copied(b));

  options_.folder = (out_ / "missing").string();
  Queue({a});
  ASSERT_TRUE(Copy());
  EXPECT_EQ(reporter_.Events("warning").size(), 2u);
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
  lyr::ProgressJob job(reporter_,
                       [&](lyr::JobReporter& r) { return lyr::CopyJob(*link_, queue_, options_, r); });
  ASSERT_TRUE(job.Start());
  EXPECT_EQ(job.Wait(), lyr::kJobSucceeded);
  EXPECT_EQ(reporter_.events, (std::vector<std::string>{"status ", "progress 0", "file 0",
                                                        "status Preparing...", "progress 0", "ended 1"}));
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

TEST(ProgressJob, ResultsAndTheCancelSequence) {
  for (bool outcome : {true, false}) {
    lyr_test::TestReporter window;
    lyr::ProgressJob job(window, [&](lyr::JobReporter& r) {
      r.SetStatus("working");
      return outcome;
    });
    ASSERT_TRUE(job.Start(false));
    EXPECT_EQ(job.Wait(), outcome ? lyr::kJobSucceeded : lyr::kJobFailed);
    EXPECT_EQ(window.events, (std::vector<std::string>{"status ", "progress 0", "file 0", "disable cancel",
                                                       "status working", outcome ? "ended 1" : "ended 2"}));
  }

  lyr_test::TestReporter window;
  std::atomic<bool> started{false};
  lyr::ProgressJob job(window, [&](lyr::JobReporter& r) {
    started = true;
    while (!r.CancelRequested()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return true;
  });
  ASSERT_TRUE(job.Start());
  while (!started) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  job.Cancel();
  EXPECT_FALSE(job.Running());
  EXPECT_EQ(job.Wait(), lyr::kJobCancelled);
  EXPECT_EQ(window.events, (std::vector<std::string>{"status ", "progress 0", "file 0", "close popup",
                                                     "status Terminating...", "disable cancel"}));
}

}  // namespace
