// lyrctl in a shell as people use one: version, exit statuses, tracing, JSON
// errors, completions, and lyr-manager answering --help without a window.
#include <nlohmann/json.hpp>

#include "e2e/e2e_support.h"

namespace {

using json = nlohmann::json;
using lyr_test::RunResult;
using lyr_test::ServedRecorder;
namespace fs = std::filesystem;

// Runs a bash snippet with lyrctl on the PATH and the completions loaded.
RunResult Completion(const std::string& snippet, const std::vector<std::string>& env = {}) {
  const std::string path = fs::path(lyr_test::LyrctlPath()).parent_path().string();
  return lyr_test::Run({"/bin/bash", "-c",
                        "PATH='" + path + "':$PATH; source '" + LYR_TEST_SOURCE_DIR +
                            "/packaging/completions/lyrctl.bash'; " + snippet},
                       env);
}

TEST(LyrctlShell, VersionAndProgramsWithoutAWindow) {
  const RunResult version = lyr_test::Run({lyr_test::LyrctlPath(), "--version"});
  EXPECT_EQ(version.exit_code, 0);
  EXPECT_EQ(version.out.rfind("lyrctl ", 0), 0u) << version.out;
  const std::string manager = std::string(LYR_TEST_BINARY_DIR) + "/src/app/lyr-manager";
  if (!fs::exists(manager)) GTEST_SKIP() << "lyr-manager is not built";
  // No display at all: an answer that needed a window would fail here.
  for (const char* arg : {"--version", "--help"}) {
    const RunResult r =
        lyr_test::Run({manager, arg}, {"DISPLAY=", "WAYLAND_DISPLAY=", "QT_QPA_PLATFORM=xcb"});
    EXPECT_EQ(r.exit_code, 0) << arg << ": " << r.err;
    EXPECT_NE(r.out.find("lyr-manager"), std::string::npos) << r.out;
  }
}

TEST(LyrctlShell, NoRecorderHasAnExitStatusOfItsOwn) {
  lyr_test::TempDir sys;
  fs::create_directories(sys / "block");
  const std::vector<std::string> env = {"LYR_SYSFS_ROOT=" + sys.path().string()};
  const RunResult none = lyr_test::Run({lyr_test::LyrctlPath(), "info"}, env);
  EXPECT_EQ(none.exit_code, 3) << none.err;
  EXPECT_NE(none.err.find("no recorder found"), std::string::npos) << none.err;
  EXPECT_EQ(lyr_test::Run({lyr_test::LyrctlPath(), "--device", (sys / "missing").string(), "info"}).exit_code,
            3);
  // With --json the failure is also an object on stdout.
  const RunResult as_json = lyr_test::Run({lyr_test::LyrctlPath(), "--json", "list"}, env);
  EXPECT_EQ(as_json.exit_code, 3);
  const json j = json::parse(as_json.out);
  EXPECT_EQ(j["error"]["exit_status"], 3);
  EXPECT_EQ(j["schema_version"], 1);
  // A usage error stays 2.
  EXPECT_EQ(lyr_test::Run({lyr_test::LyrctlPath(), "info", "--no-such-option"}, env).exit_code, 2);
}

TEST(LyrctlShell, VerboseTracesTheExchangesAndDeleteNeedsATerminalOrYes) {
  LYR_REQUIRE_FUSE();
  ServedRecorder rec;
  ASSERT_TRUE(rec.Start());
  const RunResult traced = rec.Lyrctl({"-v", "info"});
  EXPECT_EQ(traced.exit_code, 0) << traced.err;
  EXPECT_NE(traced.err.find("link: command "), std::string::npos) << traced.err;
  EXPECT_NE(traced.err.find("link: reply of "), std::string::npos) << traced.err;
  EXPECT_EQ(rec.Lyrctl({"info"}).err, "");

  const RunResult del = rec.Lyrctl({"delete", "1"});
  EXPECT_EQ(del.exit_code, 2) << del.err;
  EXPECT_NE(del.err.find("use --yes"), std::string::npos) << del.err;
  EXPECT_EQ(del.err.find("--no"), std::string::npos) << del.err;

  // No sound device: said so, not played in silence.
  const RunResult play = rec.Lyrctl({"play", "1"}, {"SDL_AUDIODRIVER=no-such-driver"});
  EXPECT_EQ(play.exit_code, 1);
  EXPECT_NE(play.err.find("no sound device"), std::string::npos) << play.err;
}

// UTF-8 typed, Latin-1 stored: limits count characters, and a character the
// recorder cannot store is refused by name before anything is sent.
TEST(LyrctlShell, TextIsTakenAsTheUserMeansIt) {
  LYR_REQUIRE_FUSE();
  ServedRecorder rec;
  ASSERT_TRUE(rec.Start());
  const RunResult umlaut =
      rec.Lyrctl({"--json", "set-filetype", "--codec", "pcm", "--rate", "48000", "--prefix",
                  "\xC3\x84"
                  "BCD"});
  ASSERT_EQ(umlaut.exit_code, 0) << umlaut.err;
  EXPECT_EQ(json::parse(umlaut.out)["file_name_prefix"],
            "\xC3\x84"
            "BCD");
  const RunResult euro =
      rec.Lyrctl({"set-filetype", "--codec", "pcm", "--rate", "48000", "--prefix", "\xE2\x82\xAC"});
  EXPECT_EQ(euro.exit_code, 2);
  EXPECT_NE(euro.err.find("(U+20AC) is not a character the recorder can store"), std::string::npos)
      << euro.err;
  const json info = json::parse(rec.Lyrctl({"--json", "info"}).out);
  EXPECT_EQ(info["file_type"]["file_name_prefix"],
            "\xC3\x84"
            "BCD");
}

TEST(LyrctlShell, CompletionsListCommandsOptionsAndRecordings) {
  const RunResult loaded = Completion("complete -p lyrctl");
  EXPECT_EQ(loaded.out, "complete -F _lyrctl lyrctl\n") << loaded.err;
  const RunResult commands =
      Completion("COMP_WORDS=(lyrctl ''); COMP_CWORD=1; _lyrctl; echo \"${COMPREPLY[*]}\"");
  for (const char* word : {"devices", "export", "burn-audio", "ingest", "--device", "--verbose"})
    EXPECT_NE(commands.out.find(word), std::string::npos) << word << " in " << commands.out;
  const RunResult options =
      Completion("COMP_WORDS=(lyrctl export --); COMP_CWORD=2; _lyrctl; echo \"${COMPREPLY[*]}\"");
  EXPECT_NE(options.out.find("--mpeg-format"), std::string::npos) << options.out;

  LYR_REQUIRE_FUSE();
  ServedRecorder rec;
  ASSERT_TRUE(rec.Start());
  const RunResult names = Completion("COMP_WORDS=(lyrctl --device '" + rec.disk() +
                                     "' export LYR000); COMP_CWORD=4; _lyrctl; echo \"${COMPREPLY[*]}\"");
  EXPECT_EQ(names.out, "LYR0001 LYR0002 LYR0003 LYR0004 LYR0005 LYR0006\n") << names.err;
}

}  // namespace
