// lyrctl's maintenance commands and ingest against a served stand-in: a
// firmware update and its faults, format, file-counter reset, clock and file
// type, and the archival ingest with its manifest and verified deletes.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <nlohmann/json.hpp>
#include <sstream>

#include "e2e/e2e_support.h"

namespace {

using json = nlohmann::json;
using lyr_test::RunResult;
using lyr_test::ServedRecorder;
using lyr_test::Slurp;
namespace fs = std::filesystem;

fs::path PackSample(const ServedRecorder& rec, size_t bytes) {
  const fs::path file = rec.dir() / "fw.coe";
  const RunResult r = lyr_test::Run(
      {lyr_test::LyrEmuPath(), "pack-update", file.string(), "--sample", std::to_string(bytes)});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  return file;
}

json ListRows(ServedRecorder& rec) {
  const RunResult r = rec.Lyrctl({"--json", "list"});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  return r.exit_code == 0 ? json::parse(r.out)["recordings"] : json::array();
}

json Info(ServedRecorder& rec) {
  const RunResult r = rec.Lyrctl({"--json", "info"});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  return r.exit_code == 0 ? json::parse(r.out) : json::object();
}

size_t Lines(const std::string& text) {
  return static_cast<size_t>(std::count(text.begin(), text.end(), '\n'));
}

TEST(LyrctlMaintenance, FirmwareUpdateIsVerifiedAndTheImageKept) {
  LYR_REQUIRE_FUSE();
  ServedRecorder rec(false);
  ASSERT_TRUE(rec.Start());
  const fs::path file = PackSample(rec, 100004);
  const RunResult r = rec.Lyrctl({"update-firmware", "--yes", file.string()});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_NE(r.out.find("Information: Successfully Updated.\nOnce the OK button is pressed"),
            std::string::npos)
      << r.out;
  // The stand-in kept the image: packing it again gives the same file.
  const fs::path again = rec.dir() / "again.coe";
  ASSERT_EQ(lyr_test::Run({lyr_test::LyrEmuPath(), "pack-update", again.string(), "--image",
                           (rec.store() / "firmware.bin").string()})
                .exit_code,
            0);
  EXPECT_EQ(Slurp(again), Slurp(file));
  // With --json stdout holds only the outcome; the messages go to stderr.
  const RunResult json_run = rec.Lyrctl({"--json", "update-firmware", "--yes", file.string()});
  ASSERT_EQ(json_run.exit_code, 0) << json_run.err;
  const json outcome = json::parse(json_run.out);
  EXPECT_TRUE(outcome["updated"].get<bool>());
  EXPECT_EQ(outcome["outcome"], "updated");
  EXPECT_NE(json_run.err.find("Information: Successfully Updated."), std::string::npos);
}

TEST(LyrctlMaintenance, EachUpdateFaultGivesItsMessageAndFails) {
  LYR_REQUIRE_FUSE();
  ServedRecorder rec(false);
  const fs::path file = PackSample(rec, 10000);
  struct Case {
    const char* fault;
    int value;
    const char* message;
  };
  const Case cases[] = {
      {"firmware_write_fail_piece", 2, "Error: The LYR encountered a problem, Update failed.\n"},
      {"firmware_readback_bad_piece", 3, "Error: Verify failed.\nplease contact with the distributor.\n"},
      {"firmware_status_length_delta", 2048, "Error: Verify failed.\nplease contact with the distributor.\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fault);
    lyr_test::EditConfig(rec.store(), [&](json& j) {
      j["faults"] = json::object();
      j["faults"][c.fault] = c.value;
    });
    ASSERT_TRUE(rec.Start());
    const RunResult r = rec.Lyrctl({"update-firmware", "--yes", file.string()});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    EXPECT_EQ(r.out.find("Successfully"), std::string::npos);
    rec.Stop();
  }
  // A file that is no update is refused before the recorder is opened, and
  // at once: a FIFO is not waited on.
  std::ofstream(rec.dir() / "junk.coe") << "not an update";
  std::ofstream(rec.dir() / "empty.coe").close();
  ASSERT_EQ(::mkfifo((rec.dir() / "fifo.coe").c_str(), 0600), 0);
  const struct {
    const char* file;
    const char* message;
  } refused[] = {
      {"junk.coe", "Error: Update file format is error, please check.\n"},
      {"empty.coe", "Error: Update file format is error, please check.\n"},
      {"fifo.coe", "Error: Update File read error, please check.\n"},
  };
  for (const auto& c : refused) {
    SCOPED_TRACE(c.file);
    const pid_t pid = lyr_test::Spawn({lyr_test::LyrctlPath(), "--device", rec.disk(), "update-firmware",
                                       "--yes", (rec.dir() / c.file).string()},
                                      rec.dir() / "ctl.out", rec.dir() / "ctl.err");
    ASSERT_GT(pid, 0);
    const int code = lyr_test::WaitExitWithin(pid, std::chrono::seconds(10));
    if (code < 0) lyr_test::Kill(pid);
    EXPECT_EQ(code, 1);
    const std::string err = Slurp(rec.dir() / "ctl.err");
    EXPECT_NE(err.find(c.message), std::string::npos) << err;
  }
}

// Ctrl+C while the image is written never ends as a success: the update
// stops before its read-back and says the recorder holds it unverified.
TEST(LyrctlMaintenance, CtrlCDuringAnUpdateSaysItIsNotVerified) {
  LYR_REQUIRE_FUSE();
  ServedRecorder rec(false);
  const fs::path file = PackSample(rec, 20480);
  lyr_test::EditConfig(rec.store(), [](json& j) { j["faults"]["slow_reply_ms"] = 40; });
  ASSERT_TRUE(rec.Start());
  const fs::path out = rec.dir() / "ctl.out", err = rec.dir() / "ctl.err";
  const pid_t pid = lyr_test::Spawn(
      {lyr_test::LyrctlPath(), "--device", rec.disk(), "update-firmware", "--yes", file.string()}, out, err);
  ASSERT_GT(pid, 0);
  for (int i = 0; i < 400 && Slurp(err).find("Yes (--yes)") == std::string::npos; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(25));
  std::this_thread::sleep_for(std::chrono::milliseconds(150));
  ::kill(pid, SIGINT);
  const int code = lyr_test::WaitExitWithin(pid, std::chrono::seconds(30));
  if (code < 0) lyr_test::Kill(pid);
  EXPECT_EQ(code, 130);
  const std::string text = Slurp(out) + Slurp(err);
  EXPECT_EQ(text.find("Successfully"), std::string::npos) << text;
  EXPECT_NE(text.find("before it was verified"), std::string::npos) << text;
}

// When the memory status cannot be read after a format, the old figure is
// never shown as the new state.
TEST(LyrctlMaintenance, FormatSaysWhenTheNewMemoryStatusIsUnread) {
  LYR_REQUIRE_FUSE();
  // The commands a whole format takes, counted by a first run.
  uint64_t commands = 0;
  {
    ServedRecorder rec;
    ASSERT_TRUE(rec.Start());
    ASSERT_EQ(rec.Lyrctl({"format", "--yes"}).exit_code, 0);
    const std::string stats = rec.Stop();
    const size_t at = stats.find("commands: ");
    ASSERT_NE(at, std::string::npos) << stats;
    commands = std::stoull(stats.substr(at + 10));
  }
  // The recorder goes before the last one: the read of the memory status.
  ServedRecorder rec;
  lyr_test::EditConfig(rec.store(), [&](json& j) { j["faults"]["disconnect_after"] = commands - 1; });
  ASSERT_TRUE(rec.Start());
  const RunResult r = rec.Lyrctl({"format", "--yes"});
  EXPECT_TRUE(fs::is_empty(rec.store() / "recordings")) << "formatted";
  EXPECT_EQ(r.out.find("Memory status"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("the memory status could not be read again"), std::string::npos) << r.out << r.err;
}

TEST(LyrctlMaintenance, ConfirmationsNeedATerminalOrYes) {
  LYR_REQUIRE_FUSE();
  ServedRecorder rec;
  ASSERT_TRUE(rec.Start());
  const fs::path file = PackSample(rec, 4096);
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"format"}, {"reset-counter"}, {"update-firmware", file.string()}}) {
    const RunResult r = rec.Lyrctl(args);
    EXPECT_EQ(r.exit_code, 2) << args[0];
    EXPECT_NE(r.err.find("no terminal to ask, use --yes"), std::string::npos) << r.err;
  }
  EXPECT_EQ(ListRows(rec).size(), 6u);
  EXPECT_TRUE(fs::is_empty(rec.store() / "recordings") == false);
  EXPECT_FALSE(fs::exists(rec.store() / "firmware.bin") && fs::file_size(rec.store() / "firmware.bin") > 0);
}

TEST(LyrctlMaintenance, FormatAndResetCounterShowInInfoAndList) {
  LYR_REQUIRE_FUSE();
  ServedRecorder rec;
  lyr_test::EditConfig(rec.store(), [](json& j) { j["file_counter"] = 17; });
  ASSERT_TRUE(rec.Start());
  ASSERT_EQ(Info(rec)["recordings"], 6);

  const RunResult reset = rec.Lyrctl({"reset-counter", "--yes", "--json"});
  ASSERT_EQ(reset.exit_code, 0) << reset.err;
  EXPECT_NE(
      reset.err.find("RESET FILE COUNTER\nBeware resetting can cause overwriting of\n none erased files?"),
      std::string::npos)
      << reset.err;
  EXPECT_NE(reset.err.find("Highest index number = LYR0017"), std::string::npos) << reset.err;
  const json after_reset = json::parse(reset.out);
  EXPECT_EQ(after_reset["highest_index_before"], 17);
  EXPECT_EQ(after_reset["highest_index"], 0);

  const json before = Info(rec);
  const RunResult format = rec.Lyrctl({"format", "--yes"});
  ASSERT_EQ(format.exit_code, 0) << format.err;
  char line[96];
  std::snprintf(line, sizeof line, "Memory status: Used %llu MB, Free %llu MB",
                before["memory"]["used_bytes"].get<unsigned long long>() / 1048576,
                before["memory"]["free_bytes"].get<unsigned long long>() / 1048576);
  EXPECT_NE(format.err.find(std::string("FORMAT\nFormatting will erase all files?\n") +
                            "Select \"Cancel\" or \"Yes\" + OK\n" + line),
            std::string::npos)
      << format.err;
  const json after = Info(rec);
  EXPECT_EQ(after["recordings"], 0);
  EXPECT_EQ(after["memory"]["used_bytes"], 0);
  EXPECT_TRUE(ListRows(rec).empty());
}

TEST(LyrctlMaintenance, ClockAndFileTypeReadBack) {
  LYR_REQUIRE_FUSE();
  ServedRecorder rec(false);
  ASSERT_TRUE(rec.Start());
  const RunResult clock = rec.Lyrctl({"set-clock", "--time", "2031-07-15 08:09:10"});
  ASSERT_EQ(clock.exit_code, 0) << clock.err;
  const std::string shown = Info(rec)["clock"];
  EXPECT_EQ(shown.substr(0, 17), "2031-07-15 08:09:") << shown;

  const RunResult mpeg = rec.Lyrctl({"set-filetype", "--codec", "mpeg", "--rate", "32000", "--bitrate",
                                     "96000", "--channels", "1", "--prefix", "TAPE"});
  ASSERT_EQ(mpeg.exit_code, 0) << mpeg.err;
  json type = Info(rec)["file_type"];
  EXPECT_EQ(type["codec"], 0x7000F);
  EXPECT_EQ(type["sample_rate"], 32000);
  EXPECT_EQ(type["bit_rate"], 96000);
  EXPECT_EQ(type["channels"], 1);
  EXPECT_EQ(type["file_name_prefix"], "TAPE");
  ASSERT_EQ(rec.Lyrctl({"set-filetype", "--codec", "pcm", "--rate", "48000", "--channels", "2"}).exit_code,
            0);
  type = Info(rec)["file_type"];
  EXPECT_EQ(type["codec"], 0x70001);
  EXPECT_EQ(type["bit_rate"], 1536000);

  // What the pages refuse is refused, and nothing changes.
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"set-filetype", "--codec", "mpeg", "--rate", "48000", "--bitrate", "100000"},
        {"set-filetype", "--codec", "pcm", "--rate", "22050"},
        {"set-filetype", "--codec", "pcm", "--rate", "48000", "--bits", "24"},
        {"set-clock", "--time", "2031-02-29 00:00:00"},
        {"set-clock", "--time", "1999-12-31 23:00:00"},
        {"set-clock", "--time", ""}}) {
    const RunResult r = rec.Lyrctl(args);
    EXPECT_EQ(r.exit_code, 2) << args[1] << " " << r.err;
  }
  EXPECT_EQ(Info(rec)["file_type"], type);
  EXPECT_EQ(Info(rec)["clock"].get<std::string>().substr(0, 4), "2031") << "the PC's time was set";
}

TEST(LyrctlIngest, DeletesOnlyWhatASecondReadVerified) {
  LYR_REQUIRE_FUSE();
  ServedRecorder rec;
  // One recording was archived before: it is neither ingested nor deleted.
  std::ofstream(rec.store() / "recordings" / "3.copied").close();
  ASSERT_TRUE(rec.Start());
  const fs::path archive = rec.dir() / "archive";
  // A file of the same name from an earlier ingest is kept.
  fs::create_directories(archive);
  std::ofstream(archive / "LYR0001.wav") << "an earlier recording";
  const RunResult r = rec.Lyrctl({"--json", "ingest", "--to", archive.string(), "--delete-after-verify"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(Slurp(archive / "LYR0001.wav"), "an earlier recording");
  EXPECT_TRUE(fs::exists(archive / "LYR0001_2.wav"));
  for (const auto& f : fs::directory_iterator(archive))
    EXPECT_NE(f.path().filename().string().rfind(".lyr-", 0), 0u) << "left behind: " << f.path();
  const json done = json::parse(r.out);
  ASSERT_EQ(done["ingested"].size(), 5u);
  for (const auto& one : done["ingested"]) {
    EXPECT_TRUE(one["verified"].get<bool>()) << one.dump();
    EXPECT_TRUE(one["deleted"].get<bool>()) << one.dump();
  }
  const std::string manifest = Slurp(archive / "manifest.sha1");
  EXPECT_EQ(Lines(manifest), 5u);
  EXPECT_NE(manifest.find("  LYR0001_2.wav\n"), std::string::npos) << manifest;
  const RunResult check =
      lyr_test::Run({"/bin/sh", "-c", "cd '" + archive.string() + "' && sha1sum -c manifest.sha1"});
  EXPECT_EQ(check.exit_code, 0) << check.out << check.err;
  const json left = ListRows(rec);
  ASSERT_EQ(left.size(), 1u);
  EXPECT_EQ(left[0]["entry"], 3);
  // Nothing is left to ingest; the manifest keeps its lines.
  const RunResult again = rec.Lyrctl({"ingest", "--to", archive.string()});
  EXPECT_EQ(again.exit_code, 0) << again.err;
  EXPECT_EQ(Lines(Slurp(archive / "manifest.sha1")), 5u);
}

TEST(LyrctlIngest, AReadFaultDeletesNothingAndNamesTheRecording) {
  LYR_REQUIRE_FUSE();
  ServedRecorder rec;
  lyr_test::EditConfig(rec.store(), [](json& j) { j["faults"]["read_fail_offset"] = 300000; });
  ASSERT_TRUE(rec.Start());
  const json rows = ListRows(rec);
  ASSERT_EQ(rows.size(), 6u);
  const fs::path archive = rec.dir() / "archive";
  const RunResult r = rec.Lyrctl({"--json", "ingest", "--to", archive.string(), "--delete-after-verify"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.err.find("not every recording was ingested"), std::string::npos) << r.err;
  const json done = json::parse(r.out)["ingested"];
  ASSERT_EQ(done.size(), rows.size());
  // A recording whose read failed is named with the reason and stays on the
  // recorder; the others were verified before they were deleted.
  const json left = ListRows(rec);
  size_t failed = 0;
  for (const auto& one : done) {
    const std::string name = one["name"];
    const bool listed =
        std::any_of(left.begin(), left.end(), [&](const json& row) { return row["name"] == name; });
    if (one["error"].is_null()) {
      EXPECT_TRUE(one["verified"].get<bool>() && one["deleted"].get<bool>()) << one.dump();
      EXPECT_FALSE(listed) << name;
    } else {
      ++failed;
      EXPECT_FALSE(one["deleted"].get<bool>()) << one.dump();
      EXPECT_TRUE(listed) << name;
      EXPECT_NE(r.err.find(name + ": Read file error!"), std::string::npos) << name << "\n" << r.err;
    }
  }
  EXPECT_GT(failed, 0u);
  EXPECT_LT(failed, rows.size());
  EXPECT_EQ(left.size(), failed);
  EXPECT_EQ(Lines(Slurp(archive / "manifest.sha1")), rows.size() - failed);
}

TEST(LyrctlIngest, WatchIngestsARecorderWhenItIsPluggedIn) {
  LYR_REQUIRE_FUSE();
  ServedRecorder rec;
  const fs::path root = rec.dir() / "sys";
  fs::create_directories(root);
  const fs::path archive = rec.dir() / "archive";
  const std::vector<std::string> env = {"LYR_SYSFS_ROOT=" + root.string()};
  const pid_t watch = lyr_test::Spawn({lyr_test::LyrctlPath(), "ingest", "--watch", "--to", archive.string()},
                                      rec.dir() / "watch.out", rec.dir() / "watch.err", env);
  ASSERT_GT(watch, 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  ASSERT_TRUE(rec.Start({"--sysfs", root.string(), "--serial", "WATCH01"}));
  // The summary line comes once the last recording is marked too.
  bool all = false;
  for (int i = 0; i < 300 && !all; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    all = Slurp(rec.dir() / "watch.out").find("ingested 6,") != std::string::npos;
  }
  EXPECT_TRUE(all) << Slurp(rec.dir() / "watch.err");
  EXPECT_EQ(Lines(Slurp(archive / "manifest.sha1")), 6u);
  ::kill(watch, SIGINT);
  const int code = lyr_test::WaitExitWithin(watch, std::chrono::seconds(10));
  if (code < 0) lyr_test::Kill(watch);
  EXPECT_EQ(code, 0) << Slurp(rec.dir() / "watch.err");
  EXPECT_NE(Slurp(rec.dir() / "watch.out").find("recorder WATCH01"), std::string::npos);
}

// lyrctl run with the file-system faults preloaded (fs_faults.cpp).
std::vector<std::string> WithFsFaults(std::vector<std::string> env) {
  env.push_back(std::string("LD_PRELOAD=") + LYR_FS_FAULTS);
  return env;
}

size_t MarkedCopied(const ServedRecorder& rec) {
  size_t n = 0;
  for (const auto& f : fs::directory_iterator(rec.store() / "recordings"))
    n += f.path().extension() == ".copied";
  return n;
}

TEST(LyrctlIngest, ArchivesDurablyWithoutHardLinksBeforeItDeletes) {
  LYR_REQUIRE_FUSE();
  ServedRecorder rec;
  ASSERT_TRUE(rec.Start());
  const fs::path archive = rec.dir() / "archive";
  const fs::path log = rec.dir() / "fs.log";
  // An archive on FAT or exFAT: no hard links.
  const RunResult r =
      rec.Lyrctl({"--json", "ingest", "--to", archive.string(), "--sha1", "--delete-after-verify"},
                 WithFsFaults({"LYR_FS_NO_LINKS=1", "LYR_FS_LOG=" + log.string()}));
  ASSERT_EQ(r.exit_code, 0) << r.err;
  const json done = json::parse(r.out)["ingested"];  // nothing but JSON on stdout
  ASSERT_EQ(done.size(), 6u);
  EXPECT_EQ(r.err.find("Copying..."), std::string::npos) << "progress lines beside JSON:\n" << r.err;
  EXPECT_TRUE(ListRows(rec).empty());
  EXPECT_EQ(Lines(Slurp(archive / "manifest.sha1")), 6u);
  // Each file, then the folder that names it, then the manifest: synced in
  // that order before the recording may go.
  std::vector<std::string> synced;
  std::istringstream in(Slurp(log));
  for (std::string line; std::getline(in, line);) synced.push_back(line);
  const fs::path folder = fs::canonical(archive);
  for (const auto& one : done) {
    ASSERT_TRUE(one["deleted"].get<bool>()) << one.dump();
    const std::string name = fs::path(one["file"].get<std::string>()).filename().string();
    auto at = std::find_if(synced.begin(), synced.end(),
                           [&](const std::string& l) { return fs::path(l).filename() == name; });
    ASSERT_NE(at, synced.end()) << name << " never synced";
    at = std::find(at, synced.end(), "fsync " + folder.string());
    ASSERT_NE(at, synced.end()) << "the archive folder not synced after " << name;
    at = std::find(at, synced.end(), "fsync " + (folder / "manifest.sha1").string());
    EXPECT_NE(at, synced.end()) << "the manifest not synced after " << name;
  }
}

TEST(LyrctlIngest, AManifestLineNotWrittenLeavesTheRecordingUnmarkedAndKept) {
  LYR_REQUIRE_FUSE();
  const struct {
    const char* fault;
    const char* why;
  } cases[] = {
      {"LYR_FS_SHORT_WRITE=manifest.sha1", "a full disk"},
      {"LYR_FS_FAIL_FSYNC=manifest.sha1", "a failed sync"},
  };
  for (const auto& c : cases) {
    ServedRecorder rec;
    ASSERT_TRUE(rec.Start());
    const fs::path archive = rec.dir() / "archive";
    fs::create_directories(archive);
    const std::string before = std::string(40, 'a') + "  OLD.wav\n";
    std::ofstream(archive / "manifest.sha1") << before;
    const RunResult r =
        rec.Lyrctl({"ingest", "--to", archive.string(), "--delete-after-verify"}, WithFsFaults({c.fault}));
    EXPECT_EQ(r.exit_code, 1) << c.why << "\n" << r.err;
    EXPECT_NE(r.err.find("the manifest was not written"), std::string::npos) << c.why << "\n" << r.err;
    if (std::string(c.fault).find("SHORT") != std::string::npos) {
      EXPECT_EQ(Slurp(archive / "manifest.sha1"), before) << c.why;
    }
    EXPECT_EQ(MarkedCopied(rec), 0u) << c.why;
    EXPECT_EQ(ListRows(rec).size(), 6u) << c.why;
  }
}

TEST(LyrctlIngest, ACutLastManifestLineIsRemovedAndSaidBeforeAppending) {
  LYR_REQUIRE_FUSE();
  ServedRecorder rec;
  ASSERT_TRUE(rec.Start());
  const fs::path archive = rec.dir() / "archive";
  fs::create_directories(archive);
  const std::string whole = std::string(40, 'a') + "  OLD.wav\n";
  std::ofstream(archive / "manifest.sha1") << whole << std::string(40, 'b') << "  CUT.w";
  const RunResult r = rec.Lyrctl({"ingest", "--to", archive.string()});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_NE(r.err.find("removed a cut last line"), std::string::npos) << r.err;
  const std::string manifest = Slurp(archive / "manifest.sha1");
  EXPECT_EQ(manifest.rfind(whole, 0), 0u) << manifest;
  EXPECT_EQ(manifest.find("CUT"), std::string::npos) << manifest;
  EXPECT_EQ(Lines(manifest), 7u) << manifest;
  EXPECT_EQ(manifest.back(), '\n');
}

// A watching ingest, its recorders published in a sysfs tree of the test's own.
class WatchedIngest {
 public:
  WatchedIngest(const fs::path& dir, const fs::path& archive, std::vector<std::string> extra = {})
      : dir_(dir), root_(dir / "sys") {
    fs::create_directories(root_);
    std::vector<std::string> argv = {lyr_test::LyrctlPath(), "ingest", "--watch", "--to", archive.string()};
    argv.insert(argv.end(), extra.begin(), extra.end());
    pid_ = lyr_test::Spawn(argv, dir / "watch.out", dir / "watch.err", {"LYR_SYSFS_ROOT=" + root_.string()});
    EXPECT_GT(pid_, 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
  }
  ~WatchedIngest() {
    if (pid_ > 0) lyr_test::Kill(pid_);
  }
  std::vector<std::string> Plug(const std::string& serial) const {
    return {"--sysfs", root_.string(), "--serial", serial};
  }
  std::string Out() const { return Slurp(dir_ / "watch.out"); }
  std::string Err() const { return Slurp(dir_ / "watch.err"); }
  // Waits up to ten seconds for `done`.
  static bool Within(const std::function<bool()>& done) {
    for (int i = 0; i < 500; ++i) {
      if (done()) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
  }
  int Stop(int sig) {
    ::kill(pid_, sig);
    const int code = lyr_test::WaitExitWithin(pid_, std::chrono::seconds(10));
    if (code < 0) lyr_test::Kill(pid_);
    pid_ = -1;
    return code;
  }

 private:
  fs::path dir_;
  fs::path root_;
  pid_t pid_ = -1;
};

TEST(LyrctlIngest, WatchLetsTheRecorderGoAndNamesTheOneThatWaits) {
  LYR_REQUIRE_FUSE();
  ServedRecorder first, second;
  const fs::path archive = first.dir() / "archive";
  WatchedIngest watch(first.dir().path(), archive);
  ASSERT_TRUE(first.Start(watch.Plug("WATCH01")));
  ASSERT_TRUE(WatchedIngest::Within([&] { return watch.Out().find("ingested 6,") != std::string::npos; }))
      << watch.Err();
  // Ingested and still plugged in: other programs may use it.
  const RunResult info = first.Lyrctl({"info"});
  EXPECT_EQ(info.exit_code, 0) << info.err;
  ASSERT_TRUE(second.Start(watch.Plug("WATCH02")));
  EXPECT_TRUE(WatchedIngest::Within([&] { return watch.Err().find("WATCH02") != std::string::npos; }))
      << watch.Err();
  EXPECT_EQ(watch.Stop(SIGINT), 0) << watch.Err();
  EXPECT_EQ(ListRows(second).size(), 6u);
}

TEST(LyrctlIngest, SigtermStopsAWatchingIngestWhereNothingIsLost) {
  LYR_REQUIRE_FUSE();
  ServedRecorder rec;
  // Slow enough that the ingest is still running when the signal comes.
  lyr_test::EditConfig(rec.store(), [](json& j) { j["faults"]["slow_reply_ms"] = 5; });
  const fs::path archive = rec.dir() / "archive";
  WatchedIngest watch(rec.dir().path(), archive, {"--delete-after-verify"});
  ASSERT_TRUE(rec.Start(watch.Plug("WATCH01")));
  ASSERT_TRUE(WatchedIngest::Within([&] {
    return fs::exists(archive / "manifest.sha1") && Lines(Slurp(archive / "manifest.sha1")) >= 1;
  })) << watch.Err();
  EXPECT_EQ(watch.Stop(SIGTERM), 130) << watch.Err();
  // Every recording still on the recorder, or deleted with its line in the manifest.
  const size_t archived = Lines(Slurp(archive / "manifest.sha1"));
  const size_t left = ListRows(rec).size();
  EXPECT_LT(archived, 6u) << "the ingest went on to the end";
  EXPECT_GE(archived + left, 6u);
  EXPECT_LE(MarkedCopied(rec), archived);
}

}  // namespace

namespace {

TEST(LyrctlHelp, EveryCommandShowsAnExample) {
  for (const char* command :
       {"devices", "info", "list", "export", "delete", "decode", "update-firmware", "format", "reset-counter",
        "set-clock", "set-filetype", "ingest", "drives", "play", "burn-audio", "burn-data"}) {
    const RunResult r = lyr_test::Run({lyr_test::LyrctlPath(), command, "--help"});
    EXPECT_EQ(r.exit_code, 0) << command;
    // Its own example is the last one: not the general one of the program.
    const size_t last = r.out.rfind("Example: ");
    ASSERT_NE(last, std::string::npos) << command;
    EXPECT_EQ(
        r.out.substr(last).rfind(
            std::string("Example: lyrctl ") + (std::string(command) == "info" ? "--device" : command), 0),
        0u)
        << r.out;
  }
  const RunResult top = lyr_test::Run({lyr_test::LyrctlPath(), "--help"});
  EXPECT_NE(top.out.find("Example: lyrctl "), std::string::npos);
}

}  // namespace
