// lyr-emu itself as a user and a test script meet it: its commands, the
// store it refuses, the data it cannot serve, and stopping at any moment.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "e2e/e2e_support.h"
#include "emulator/audio_import.h"

namespace {

namespace fs = std::filesystem;
using json = nlohmann::json;
using lyr_test::EditConfig;
using lyr_test::LyrEmuPath;
using lyr_test::RunResult;
using lyr_test::ServedRecorder;

// Serves the store of `rec` on `mount` where that must be refused: the exit
// status (-1 when it kept serving, then ended) and what it printed on stderr.
std::pair<int, std::string> ServeRefused(const ServedRecorder& rec, const fs::path& mount) {
  fs::create_directories(mount);
  const fs::path err = rec.dir() / (mount.filename().string() + ".err");
  const pid_t pid = lyr_test::Spawn({LyrEmuPath(), "serve", rec.store().string(), mount.string()},
                                    rec.dir() / (mount.filename().string() + ".out"), err);
  if (pid < 0) return {-1, "cannot start lyr-emu"};
  const int code = lyr_test::WaitExitWithin(pid, std::chrono::seconds(5));
  if (code < 0) {
    lyr_test::Kill(pid);
    lyr_test::Run({"/bin/fusermount3", "-u", "-z", mount.string()});
  }
  return {code, lyr_test::Slurp(err)};
}

TEST(LyrEmu, InitAndAddReportWhatTheyMade) {
  lyr_test::TempDir dir;
  const std::string store = (dir / "store").string();
  RunResult r = lyr_test::Run({LyrEmuPath(), "init", store});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, "store " + store + " ready with 0 recordings\n");

  const fs::path wave = dir / "tone.wav";
  const std::vector<int16_t> pcm(2 * 48000, 1000);
  ASSERT_TRUE(lyr_emu::WritePcmWaveFile(pcm.data(), 48000, 2, 48000, wave));
  r = lyr_test::Run({LyrEmuPath(), "add", store, wave.string()});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, "added entry 1 (LYR0001, 192000 bytes)\n");
  r = lyr_test::Run({LyrEmuPath(), "add", store, wave.string(), "--name", "TAKE", "--entry", "7", "--date",
                     "2011-08-19T10:20:37"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, "added entry 7 (TAKE, 192000 bytes)\n");

  r = lyr_test::Run({LyrEmuPath(), "add", store, wave.string(), "--date", "19.08.2011"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.err, "lyr-emu: --date wants YYYY-MM-DDTHH:MM:SS, got 19.08.2011\n");
  r = lyr_test::Run({LyrEmuPath(), "add", (dir / "nothing").string(), wave.string()});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.err.find("is not a recorder store"), std::string::npos) << r.err;
  r = lyr_test::Run({LyrEmuPath(), "init", store});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.err.find("already holds a recorder store"), std::string::npos) << r.err;
}

// A value the stand-in cannot honour stops `serve` before it mounts, with the
// key and the file named; it never runs with a value wrapped around.
TEST(LyrEmuServe, RefusesAStoreWithAnInvalidSetting) {
  struct Case {
    const char* name;
    std::function<void(json&)> edit;
    const char* key;
  };
  const Case cases[] = {
      {"negative delay", [](json& j) { j["faults"]["slow_reply_ms"] = -1; }, "faults.slow_reply_ms"},
      {"text for a flag", [](json& j) { j["faults"]["delete_fails"] = "yes"; }, "faults.delete_fails"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ServedRecorder rec(false);
    EditConfig(rec.store(), c.edit);
    const auto [code, err] = ServeRefused(rec, rec.dir() / "mnt");
    EXPECT_EQ(code, 1);
    EXPECT_NE(err.find(c.key), std::string::npos) << err;
    EXPECT_NE(err.find((rec.store() / "recorder.json").string()), std::string::npos) << err;
    EXPECT_TRUE(lyr_test::Slurp(rec.dir() / "mnt.out").empty()) << "it never mounted";
  }
}

// One store is served once: a second mount of it would list what the first
// has since changed.
TEST(LyrEmuServe, RefusesAStoreAlreadyServed) {
  LYR_REQUIRE_FUSE();
  ServedRecorder rec(false);
  ASSERT_TRUE(rec.Start());
  const fs::path second = rec.dir() / "second";
  const auto [code, err] = ServeRefused(rec, second);
  EXPECT_EQ(code, 1);
  EXPECT_NE(err.find("is already served by another lyr-emu"), std::string::npos) << err;
  EXPECT_FALSE(fs::exists(second / "disk"));
  // Once the first has stopped, the store may be served again.
  rec.Stop();
  EXPECT_TRUE(rec.Start());
}

// SIGINT and SIGTERM end `serve` at once even while a reply is held back and a
// client waits for it: the mount goes, and the client is told.
TEST(LyrEmuServe, StopsPromptlyWhileAReplyIsDelayed) {
  LYR_REQUIRE_FUSE();
  for (const int sig : {SIGTERM, SIGINT}) {
    SCOPED_TRACE(sig);
    ServedRecorder rec(false);
    EditConfig(rec.store(), [](json& j) { j["faults"]["slow_reply_ms"] = 60000; });
    ASSERT_TRUE(rec.Start());
    const pid_t client = lyr_test::Spawn({lyr_test::LyrctlPath(), "--device", rec.disk(), "info"},
                                         rec.dir() / "client.out", rec.dir() / "client.err");
    ASSERT_GT(client, 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_EQ(lyr_test::WaitExitWithin(client, std::chrono::milliseconds(0)), -1)
        << "the client should be waiting for its first reply";

    const std::string out = rec.Stop(sig, std::chrono::seconds(2));
    EXPECT_NE(out.find("exchange statistics:"), std::string::npos) << out;
    EXPECT_FALSE(rec.Mounted());
    const int client_code = lyr_test::WaitExitWithin(client, std::chrono::seconds(5));
    if (client_code < 0) {
      ADD_FAILURE() << "lyrctl still waits after the stand-in stopped";
      lyr_test::Kill(client);
    }
    EXPECT_NE(client_code, 0);
  }
}

// A data file shorter than its record says fails the read there, as a worn
// recorder would; the export is then left incomplete, never padded.
TEST(LyrEmuServe, DataMissingFromTheStoreFailsTheReadThere) {
  LYR_REQUIRE_FUSE();
  ServedRecorder rec;
  fs::resize_file(rec.store() / "recordings" / "2.dat", 1000000);  // LYR0002 holds 1,920,000 bytes
  ASSERT_TRUE(rec.Start());
  const fs::path out = rec.dir() / "out";
  const RunResult r = rec.Lyrctl({"export", "--to", out.string(), "1", "2"});
  EXPECT_NE(r.exit_code, 0);
  EXPECT_TRUE(fs::exists(out / "LYR0001.wav"));
  EXPECT_FALSE(fs::exists(out / "LYR0002.wav")) << "zeros must not pass for the missing audio";
  EXPECT_TRUE(fs::exists(out / "LYR0002.wav.partial"));
  EXPECT_NE(rec.Stop().find("failed transfers: 1\n"), std::string::npos);
}

}  // namespace
