// lyrctl as a user meets it: the command line and its mistakes, decode's
// input and output, recordings named by number or name, text from the
// recorder on a terminal and in JSON, and Ctrl+C.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <nlohmann/json.hpp>

#include "e2e/e2e_support.h"
#include "emulator/audio_import.h"

namespace {

namespace fs = std::filesystem;
using json = nlohmann::json;
using lyr_test::EditConfig;
using lyr_test::RunResult;
using lyr_test::ServedRecorder;
using lyr_test::Slurp;

void AddRecording(const ServedRecorder& rec, std::vector<std::string> args) {
  const fs::path wav = rec.dir() / "tone.wav";
  if (!fs::exists(wav)) {
    // One second of 16-bit stereo at 48 kHz.
    std::vector<int16_t> pcm(48000 * 2);
    for (size_t i = 0; i < pcm.size(); ++i) pcm[i] = static_cast<int16_t>(i * 97);
    ASSERT_TRUE(lyr_emu::WritePcmWaveFile(pcm.data(), 48000, 2, 48000, wav));
  }
  args.insert(args.begin(), {lyr_test::LyrEmuPath(), "add", rec.store().string(), wav.string()});
  const RunResult r = lyr_test::Run(args);
  ASSERT_EQ(r.exit_code, 0) << r.err;
}

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// Waits until `file` holds `text`; false after `seconds`.
bool WaitForText(const fs::path& file, const std::string& text, int seconds) {
  for (int i = 0; i < seconds * 20; ++i) {
    if (Contains(Slurp(file), text)) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return false;
}

// The exit status of `pid` within `limit`, or -1 (and the process killed).
int ExitWithin(pid_t pid, std::chrono::milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < end) {
    int status = 0;
    if (::waitpid(pid, &status, WNOHANG) == pid)
      return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  ::kill(pid, SIGKILL);
  lyr_test::WaitExit(pid);
  return -1;
}

TEST(LyrctlCli, EveryMistakeOnTheCommandLineIsStatusTwo) {
  const std::vector<std::vector<std::string>> cases = {
      {},
      {"bogus"},
      {"info", "--bogus"},
      {"info", "extra"},
      {"info", "list"},
      {"--device"},
      {"export"},
      {"export", "--all", "1"},
      {"export", "--all", "--yes", "--no"},
      {"export", "--all", "--mpeg-format", "flac"},
      {"export", "--all", "--mpeg-format", "1"},
      {"export", "--all", "--pcm-format", "raw"},
      {"export", "--all", "--to"},
      {"delete"},
      {"delete", "--all", "entry:3"},
      {"decode"},
      {"decode", "in.mp2"},
      {"decode", "a", "b", "c"},
      {"set-clock", "--time", ""},
      {"play", "1", "--volume", "nan"},
      {"play", "1", "--start", "nan"},
  };
  for (auto args : cases) {
    std::string line;
    for (const auto& a : args) line += a + " ";
    SCOPED_TRACE(line);
    args.insert(args.begin(), {lyr_test::LyrctlPath(), "--device", "/nonexistent/disk"});
    const RunResult r = lyr_test::Run(args);
    EXPECT_EQ(r.exit_code, 2) << r.err;
    EXPECT_TRUE(r.out.empty()) << r.out;
    EXPECT_FALSE(r.err.empty());
  }
  for (const char* help : {"--help", "--version"})
    EXPECT_EQ(lyr_test::Run({lyr_test::LyrctlPath(), help}).exit_code, 0) << help;
}

TEST(LyrctlCli, GlobalOptionsGoBeforeOrAfterTheCommand) {
  LYR_REQUIRE_FUSE();
  ServedRecorder rec;
  ASSERT_TRUE(rec.Start());
  const std::string ctl = lyr_test::LyrctlPath();
  for (const auto& args :
       std::vector<std::vector<std::string>>{{ctl, "--json", "--device", rec.disk(), "list"},
                                             {ctl, "list", "--json", "--device", rec.disk()},
                                             {ctl, "--device", rec.disk(), "list", "--json"}}) {
    const RunResult r = lyr_test::Run(args);
    ASSERT_EQ(r.exit_code, 0) << args[1] << " " << r.err;
    EXPECT_EQ(json::parse(r.out)["recordings"].size(), 6u);
  }
}

TEST(LyrctlCli, DecodeNeverWritesOverItsInput) {
  ServedRecorder rec;  // only its store: the demo's first recording is a Layer II stream
  const fs::path dir = rec.dir() / "decode";
  fs::create_directories(dir);
  const fs::path in = dir / "in.mp2";
  fs::copy_file(rec.store() / "recordings" / "1.dat", in);
  const std::string original = Slurp(in);
  ASSERT_GT(original.size(), 1000u);
  fs::create_symlink(in, dir / "symlink.wav");
  fs::create_hard_link(in, dir / "hardlink.wav");
  const auto decode = [](const fs::path& from, const fs::path& to) {
    return lyr_test::Run({lyr_test::LyrctlPath(), "decode", from.string(), to.string()});
  };

  // A copy stands for the input seen through a second mount of its folder,
  // where device and inode numbers differ.
  fs::copy_file(in, dir / "copy.wav");
  for (const fs::path& out :
       {in, dir / "symlink.wav", dir / "hardlink.wav", dir / "." / "in.mp2", dir / "copy.wav"}) {
    SCOPED_TRACE(out);
    const RunResult r = decode(in, out);
    EXPECT_EQ(r.exit_code, 2);
    EXPECT_TRUE(Contains(r.err, "is the input file")) << r.err;
    EXPECT_EQ(Slurp(in), original);
  }
  fs::remove(dir / "copy.wav");
  // The real second mount, where bindfs is installed.
  if (::access("/usr/bin/bindfs", X_OK) == 0 && lyr_test::FuseProblem().empty()) {
    const fs::path view = rec.dir() / "view";
    fs::create_directories(view);
    ASSERT_EQ(lyr_test::Run({"/usr/bin/bindfs", dir.string(), view.string()}).exit_code, 0);
    const RunResult r = decode(in, view / "in.mp2");
    lyr_test::Run({"/bin/fusermount3", "-u", "-z", view.string()});
    EXPECT_EQ(r.exit_code, 2) << r.err;
    EXPECT_EQ(Slurp(in), original);
  }

  // A failed decode leaves an existing OUT as it was and nothing beside it.
  std::ofstream(dir / "junk.mp2") << "not audio at all";
  std::ofstream(dir / "kept.wav") << "older file";
  const auto entries = [&] { return std::distance(fs::directory_iterator(dir), fs::directory_iterator()); };
  const auto before = entries();
  const RunResult failed = decode(dir / "junk.mp2", dir / "kept.wav");
  EXPECT_EQ(failed.exit_code, 1);
  EXPECT_TRUE(Contains(failed.err, "no MPEG Layer II frames")) << failed.err;
  EXPECT_EQ(Slurp(dir / "kept.wav"), "older file");
  EXPECT_EQ(entries(), before);

  // A decode replaces OUT whole; through a symbolic link it replaces the file
  // linked to. A new file has the mode any new file gets.
  fs::create_symlink(dir / "kept.wav", dir / "link-to-kept.wav");
  const RunResult replaced = decode(in, dir / "link-to-kept.wav");
  ASSERT_EQ(replaced.exit_code, 0) << replaced.err;
  EXPECT_TRUE(fs::is_symlink(dir / "link-to-kept.wav"));
  EXPECT_EQ(Slurp(dir / "kept.wav").substr(0, 4), "RIFF");
  const RunResult fresh = decode(in, dir / "new.wav");
  ASSERT_EQ(fresh.exit_code, 0) << fresh.err;
  const mode_t mask = ::umask(0);
  ::umask(mask);
  struct stat st {};
  ASSERT_EQ(::stat((dir / "new.wav").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0666 & ~mask);
  EXPECT_EQ(Slurp(dir / "new.wav"), Slurp(dir / "kept.wav"));
  EXPECT_EQ(Slurp(in), original);
}

TEST(LyrctlCli, ANumberThatIsAlsoAnotherRecordingsNameIsRefused) {
  LYR_REQUIRE_FUSE();
  ServedRecorder rec(false);
  // With an empty file name prefix the recorder names its recordings "0001",
  // "0002", ...; once the first entry is gone, entry 2 holds "0001".
  AddRecording(rec, {"--name", "0001", "--entry", "2"});
  AddRecording(rec, {"--name", "0002", "--entry", "3"});
  ASSERT_TRUE(rec.Start());
  const fs::path recordings = rec.store() / "recordings";

  const RunResult ambiguous = rec.Lyrctl({"delete", "--yes", "0002"});
  EXPECT_EQ(ambiguous.exit_code, 2);
  EXPECT_TRUE(Contains(ambiguous.err, "entry 2 (\"0001\")")) << ambiguous.err;
  EXPECT_TRUE(Contains(ambiguous.err, "entry 3 (\"0002\")")) << ambiguous.err;
  EXPECT_TRUE(fs::exists(recordings / "2.dat"));
  EXPECT_TRUE(fs::exists(recordings / "3.dat"));

  const fs::path out = rec.dir() / "out";
  const RunResult by_entry = rec.Lyrctl({"export", "--to", out.string(), "entry:2"});
  EXPECT_EQ(by_entry.exit_code, 0) << by_entry.err;
  EXPECT_TRUE(fs::exists(out / "0001.wav"));
  EXPECT_FALSE(fs::exists(out / "0002.wav"));

  const RunResult by_name = rec.Lyrctl({"delete", "--yes", "name:0002"});
  EXPECT_EQ(by_name.exit_code, 0) << by_name.err;
  EXPECT_TRUE(fs::exists(recordings / "2.dat"));
  EXPECT_FALSE(fs::exists(recordings / "3.dat"));

  for (const char* nothing : {"3", "entry:3", "name:2", "entry:0001x"}) {
    const RunResult r = rec.Lyrctl({"delete", "--yes", nothing});
    EXPECT_EQ(r.exit_code, 2) << nothing << ": " << r.err;
  }
  EXPECT_TRUE(fs::exists(recordings / "2.dat"));
}

TEST(LyrctlCli, RecorderTextIsLatin1AndNeverReachesTheTerminalRaw) {
  LYR_REQUIRE_FUSE();
  ServedRecorder rec(false);
  EditConfig(rec.store(), [](json& j) { j["recorder_text"] = "Desk \x1b]0;owned\x07"; });
  AddRecording(rec, {"--name", "Caf\xE9", "--text", "caf\xE9 \x1b[2J"});
  AddRecording(rec, {"--name", "\x1b]0;pwn\x07"});
  {
    // The file name prefix: "Å" and an escape.
    std::fstream settings(rec.store() / "settings.bin", std::ios::in | std::ios::out | std::ios::binary);
    settings.seekp(92);
    settings.write("\xC5\x1b\0\0\0\0\0\0", 8);
  }
  ASSERT_TRUE(rec.Start());
  const auto raw_control = [](const std::string& text) {
    return std::any_of(text.begin(), text.end(), [](char c) {
      const auto b = static_cast<unsigned char>(c);
      return (b < 0x20 && b != '\n' && b != '\r') || b == 0x7F;
    });
  };

  const RunResult list_json = rec.Lyrctl({"--json", "list"});
  ASSERT_EQ(list_json.exit_code, 0) << list_json.err;
  const json rows = json::parse(list_json.out)["recordings"];
  EXPECT_EQ(rows[0]["name"], "Caf\xC3\xA9");
  EXPECT_EQ(rows[0]["text"], "caf\xC3\xA9 \x1b[2J");
  EXPECT_EQ(rows[1]["name"], "\x1b]0;pwn\x07");
  const RunResult list = rec.Lyrctl({"list"});
  ASSERT_EQ(list.exit_code, 0) << list.err;
  EXPECT_FALSE(raw_control(list.out)) << list.out;
  EXPECT_TRUE(Contains(list.out, "Caf\xC3\xA9")) << list.out;
  EXPECT_TRUE(Contains(list.out, "\\x1b]0;pwn\\x07")) << list.out;
  {
    // Columns line up on the terminal: "é" is two bytes but one column.
    std::istringstream lines(list.out);
    std::string header, line;
    std::getline(lines, header);
    std::getline(lines, line);
    const std::string before = line.substr(0, line.find(" " + rows[0]["duration"].get<std::string>()) + 1);
    const auto columns = std::count_if(before.begin(), before.end(),
                                       [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; });
    EXPECT_EQ(static_cast<size_t>(columns), header.find("Duration")) << header << "\n" << line;
  }

  const RunResult info_json = rec.Lyrctl({"--json", "info"});
  ASSERT_EQ(info_json.exit_code, 0) << info_json.err;
  const json info = json::parse(info_json.out);
  EXPECT_EQ(info["file_type"]["file_name_prefix"], "\xC3\x85\x1b");
  EXPECT_EQ(info["recorder_text"], "Desk \x1b]0;owned\x07");
  const RunResult info_text = rec.Lyrctl({"info"});
  ASSERT_EQ(info_text.exit_code, 0) << info_text.err;
  EXPECT_FALSE(raw_control(info_text.out)) << info_text.out;
  EXPECT_TRUE(Contains(info_text.out, "prefix \"\xC3\x85\\x1b\"")) << info_text.out;
  EXPECT_TRUE(Contains(info_text.out, "Desk \\x1b]0;owned\\x07")) << info_text.out;

  const fs::path out = rec.dir() / "out";
  const RunResult exported = rec.Lyrctl({"export", "--all", "--to", out.string()});
  EXPECT_EQ(exported.exit_code, 0) << exported.err;
  EXPECT_FALSE(raw_control(exported.out + exported.err)) << exported.out << exported.err;
  const RunResult export_json = rec.Lyrctl({"--json", "export", "--all", "--yes", "--to", out.string()});
  EXPECT_EQ(export_json.exit_code, 0) << export_json.err;
  EXPECT_EQ(json::parse(export_json.out)["exports"][0]["name"], "Caf\xC3\xA9");
  // A failure naming a path the user typed shows its controls by their codes.
  const fs::path blocker = rec.dir() / "file \x1b[2J";
  std::ofstream(blocker) << "not a folder";
  const RunResult failed = rec.Lyrctl({"export", "--all", "--to", (blocker / "x").string()});
  EXPECT_NE(failed.exit_code, 0);
  EXPECT_FALSE(raw_control(failed.out + failed.err)) << failed.err;
  EXPECT_TRUE(Contains(failed.err, "file \\x1b[2J")) << failed.err;

  // The confirmation shows the file name prefix, escape and all.
  const RunResult reset = rec.Lyrctl({"reset-counter", "--yes"});
  EXPECT_EQ(reset.exit_code, 0) << reset.err;
  EXPECT_FALSE(raw_control(reset.out + reset.err)) << reset.out << reset.err;
  EXPECT_TRUE(Contains(reset.err, "Highest index number = \xC3\x85\\x1b")) << reset.err;

  const RunResult deleted = rec.Lyrctl({"--json", "delete", "--all", "--yes"});
  EXPECT_EQ(deleted.exit_code, 0) << deleted.err;
  const json deletions = json::parse(deleted.out)["deletions"];
  EXPECT_EQ(deletions[1]["name"], "\x1b]0;pwn\x07");
  EXPECT_TRUE(deletions[1]["deleted"].get<bool>());
}

// A terminal for lyrctl's stdin, so that it asks its questions.
struct PseudoTerminal {
  PseudoTerminal() : master(::posix_openpt(O_RDWR | O_NOCTTY)) {
    if (master >= 0 && ::grantpt(master) == 0 && ::unlockpt(master) == 0) slave = ::ptsname(master);
  }
  ~PseudoTerminal() {
    if (master >= 0) ::close(master);
  }
  int master;
  std::string slave;
};

TEST(LyrctlCli, CtrlCAtTheReplaceQuestionCancelsAtOnce) {
  LYR_REQUIRE_FUSE();
  // The question comes for an existing file, or for an existing digest file
  // alone; either way the cancel keeps it and writes nothing in its place.
  const struct {
    const char* existing;
    bool sha1;
  } cases[] = {{"LYR0002.wav", false}, {"LYR0002.txt", true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.existing);
    ServedRecorder rec;
    ASSERT_TRUE(rec.Start());
    const fs::path out = rec.dir() / "out";
    fs::create_directories(out);
    std::ofstream(out / c.existing) << "older file";
    PseudoTerminal terminal;
    ASSERT_FALSE(terminal.slave.empty());
    std::vector<std::string> args = {lyr_test::LyrctlPath(), "--device", rec.disk(), "export", "--to",
                                     out.string(),           "1",        "2",        "3"};
    if (c.sha1) args.push_back("--sha1");
    const pid_t pid = lyr_test::Spawn(args, rec.dir() / "ctl.out", rec.dir() / "ctl.err", {}, terminal.slave);
    ASSERT_GT(pid, 0);
    ASSERT_TRUE(WaitForText(rec.dir() / "ctl.err", "[y/N]", 20)) << Slurp(rec.dir() / "ctl.err");
    ::kill(pid, SIGINT);
    EXPECT_EQ(ExitWithin(pid, std::chrono::seconds(5)), 130) << "still asking after Ctrl+C";
    EXPECT_EQ(Slurp(out / c.existing), "older file");
    EXPECT_TRUE(fs::exists(out / "LYR0001.wav"));
    EXPECT_EQ(fs::exists(out / "LYR0002.wav"), !c.sha1) << "nothing is written at a cancel";
    EXPECT_FALSE(fs::exists(out / "LYR0003.wav")) << "the job ends at the cancel";
    EXPECT_TRUE(Contains(Slurp(rec.dir() / "ctl.err"), "export cancelled"));
    // The cancel is reported as such, never as a file kept.
    const std::string shown = Slurp(rec.dir() / "ctl.out");
    EXPECT_FALSE(Contains(shown, "kept existing file")) << shown;
    EXPECT_TRUE(Contains(shown, "cancelled, nothing written")) << shown;
  }
}

TEST(LyrctlCli, ASecondCtrlCEndsASlowExport) {
  LYR_REQUIRE_FUSE();
  ServedRecorder rec(false);
  AddRecording(rec, {});
  static constexpr int kReplyMs = 600;
  EditConfig(rec.store(), [](json& j) { j["faults"]["slow_reply_ms"] = kReplyMs; });
  ASSERT_TRUE(rec.Start());
  const fs::path out = rec.dir() / "out";
  const pid_t pid = lyr_test::Spawn(
      {lyr_test::LyrctlPath(), "--device", rec.disk(), "export", "--to", out.string(), "--all"},
      rec.dir() / "ctl.out", rec.dir() / "ctl.err");
  ASSERT_GT(pid, 0);
  ASSERT_TRUE(WaitForText(rec.dir() / "ctl.err", "Copying...", 60)) << Slurp(rec.dir() / "ctl.err");
  std::this_thread::sleep_for(std::chrono::milliseconds(kReplyMs));
  ::kill(pid, SIGINT);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  ::kill(pid, SIGINT);
  // No signal ends lyrctl while the stand-in holds its current exchange; it
  // ends as soon as that exchange is answered.
  EXPECT_EQ(ExitWithin(pid, std::chrono::milliseconds(kReplyMs + 1500)), 130);
  EXPECT_FALSE(fs::exists(out / "LYR0001.wav")) << "an interrupted copy never takes the real name";
}

}  // namespace
