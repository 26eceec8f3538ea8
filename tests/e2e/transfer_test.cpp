// lyrctl list, export and delete against a served stand-in, checked as a
// user would check the files: byte-identical audio, headers an independent
// reader accepts, digests sha1sum agrees with.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "e2e/e2e_support.h"

namespace {

using json = nlohmann::json;
using lyr_test::RunResult;
using lyr_test::ServedRecorder;
using lyr_test::Slurp;
namespace fs = std::filesystem;

std::string StoreData(const ServedRecorder& rec, uint32_t entry) {
  return Slurp(rec.store() / "recordings" / (std::to_string(entry) + ".dat"));
}

// A 16-bit stereo 48 kHz PCM WAVE file of `bytes` bytes of audio that
// differ with `seed`.
void WriteWave(const fs::path& path, uint32_t bytes, uint8_t seed) {
  auto u32 = [](uint32_t v) { return std::string{char(v), char(v >> 8), char(v >> 16), char(v >> 24)}; };
  std::string data(bytes, '\0');
  for (uint32_t i = 0; i < bytes; ++i) data[i] = static_cast<char>(i * 7 + seed);
  std::ofstream(path, std::ios::binary)
      << "RIFF" << u32(bytes + 36) << "WAVEfmt " << u32(16) << std::string("\x01\x00\x02\x00", 4)
      << u32(48000) << u32(192000) << std::string("\x04\x00\x10\x00", 4) << "data" << u32(bytes) << data;
}

void SetFault(const ServedRecorder& rec, const char* fault, int value) {
  json j = json::parse(Slurp(rec.store() / "recorder.json"));
  j["faults"][fault] = value;
  std::ofstream(rec.store() / "recorder.json") << j.dump(2);
}

std::string Shell(const std::string& command) {
  const RunResult r = lyr_test::Run({"/bin/sh", "-c", command});
  EXPECT_EQ(r.exit_code, 0) << command << "\n" << r.err;
  return r.out;
}

TEST(LyrctlTransfer, ListShowsTheRecordingsAsTheListDoes) {
  LYR_REQUIRE_FUSE();
  ServedRecorder rec;
  ASSERT_TRUE(rec.Start());
  const RunResult r = rec.Lyrctl({"--json", "list"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  const json rows = json::parse(r.out)["recordings"];
  ASSERT_EQ(rows.size(), 6u);
  EXPECT_EQ(rows[0]["name"], "LYR0001");
  EXPECT_EQ(rows[0]["duration"], "00:00:12");
  EXPECT_EQ(rows[0]["time"], "10:20:37");
  EXPECT_EQ(rows[0]["date"], "19.08.11");
  EXPECT_EQ(rows[0]["codec"], "MPEG-1 Layer II");
  EXPECT_EQ(rows[0]["bit_rate"], 192000);
  EXPECT_EQ(rows[2]["channels"], 1);
  EXPECT_EQ(rows[2]["time"], "09:15:01") << "the odd second comes from the record's digit";
  EXPECT_EQ(rows[1]["codec"], "PCM");
  EXPECT_EQ(rows[1]["duration"], "00:00:10");
  EXPECT_EQ(rows[5]["size"], 640000);
  for (const auto& row : rows) EXPECT_FALSE(row["copied"].get<bool>());
}

TEST(LyrctlTransfer, ExportInEveryFormatWithDigests) {
  LYR_REQUIRE_FUSE();
  ServedRecorder rec;
  ASSERT_TRUE(rec.Start());
  struct Case {
    const char* mpeg;
    const char* pcm;
    size_t mpeg_header, pcm_header;
    const char* mpeg_ext;
  };
  const Case cases[] = {
      {"bwf", "bwf", 780, 724, ".wav"}, {"wav", "wav", 100, 44, ".wav"}, {"raw", "bwf", 0, 724, ".mp2"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.mpeg) + "/" + c.pcm);
    const fs::path out = rec.dir() / (std::string("out-") + c.mpeg + "-" + c.pcm);
    fs::create_directories(out);
    const RunResult r = rec.Lyrctl({"--json", "export", "--all", "--sha1", "--yes", "--to", out.string(),
                                    "--mpeg-format", c.mpeg, "--pcm-format", c.pcm});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_TRUE(json::parse(r.out)["complete"].get<bool>());
    for (uint32_t entry = 1; entry <= 6; ++entry) {
      const bool mpeg = entry % 2 == 1;  // the demo alternates Layer II and PCM
      const std::string stem = "LYR000" + std::to_string(entry);
      const fs::path file = out / (stem + (mpeg ? c.mpeg_ext : ".wav"));
      const std::string data = StoreData(rec, entry);
      const std::string written = Slurp(file);
      const size_t header = mpeg ? c.mpeg_header : c.pcm_header;
      ASSERT_EQ(written.size(), header + data.size()) << file;
      EXPECT_TRUE(written.compare(header, std::string::npos, data) == 0) << "audio bytes of " << file;
      // The digest file holds what sha1sum says of the file.
      const std::string digest = Slurp(out / (stem + ".txt"));
      const std::string sum = Shell("sha1sum '" + file.string() + "' | cut -c1-40");
      EXPECT_EQ(digest, sum.substr(0, 40)) << file;
    }
  }
  // Plain PCM WAVE files open in Python's wave module with the recorder's figures.
  const std::string info = Shell(
      "python3 -c \"import wave,sys; w=wave.open(sys.argv[1]); print(w.getnchannels(), w.getframerate(), "
      "w.getsampwidth(), w.getnframes())\" '" +
      (rec.dir() / "out-wav-wav" / "LYR0004.wav").string() + "'");
  EXPECT_EQ(info, "1 44100 2 264600\n");
  // sox reads the PCM BWF files (bext chunk before fmt) with the same figures.
  const std::string sox =
      Shell("sox --i -r '" + (rec.dir() / "out-bwf-bwf" / "LYR0002.wav").string() + "'; sox --i -c '" +
            (rec.dir() / "out-bwf-bwf" / "LYR0002.wav").string() + "'");
  EXPECT_EQ(sox, "48000\n2\n");
  // Every exported recording now carries the copied mark.
  const json rows = json::parse(rec.Lyrctl({"--json", "list"}).out)["recordings"];
  for (const auto& row : rows) EXPECT_TRUE(row["copied"].get<bool>());
}

TEST(LyrctlTransfer, ReplaceIsAskedAndNoKeepsTheFile) {
  LYR_REQUIRE_FUSE();
  ServedRecorder rec;
  ASSERT_TRUE(rec.Start());
  const fs::path out = rec.dir() / "out";
  fs::create_directories(out);
  std::ofstream(out / "LYR0002.wav") << "older file";
  const RunResult no = rec.Lyrctl({"export", "--no", "--to", out.string(), "2"});
  EXPECT_EQ(no.exit_code, 0) << no.err;
  EXPECT_NE(no.err.find("Would you like to replace the existing file with this one?"), std::string::npos);
  EXPECT_EQ(Slurp(out / "LYR0002.wav"), "older file");
  const json rows = json::parse(rec.Lyrctl({"--json", "list"}).out)["recordings"];
  EXPECT_FALSE(rows[1]["copied"].get<bool>()) << "a declined copy is not marked copied";

  // Without a terminal and without --yes or --no, the kept file means the
  // recording was not exported, and the user is told which.
  const RunResult unasked = rec.Lyrctl({"export", "--to", out.string(), "1", "2"});
  EXPECT_NE(unasked.exit_code, 0);
  EXPECT_NE(unasked.err.find("LYR0002: not exported: " + (out / "LYR0002.wav").string() + " exists"),
            std::string::npos)
      << unasked.err;
  EXPECT_NE(unasked.err.find("not every recording was exported: LYR0002"), std::string::npos) << unasked.err;
  EXPECT_EQ(Slurp(out / "LYR0002.wav"), "older file");
  EXPECT_TRUE(fs::exists(out / "LYR0001.wav"));

  const RunResult yes = rec.Lyrctl({"export", "--yes", "--to", out.string(), "LYR0002"});
  EXPECT_EQ(yes.exit_code, 0) << yes.err;
  EXPECT_EQ(fs::file_size(out / "LYR0002.wav"), 724u + 1920000u);

  const RunResult unknown = rec.Lyrctl({"export", "--to", out.string(), "LYR9999"});
  EXPECT_NE(unknown.exit_code, 0);
  EXPECT_NE(unknown.err.find("no recording \"LYR9999\""), std::string::npos) << unknown.err;
}

TEST(LyrctlTransfer, AFailedCopyIsKeptApartAndReported) {
  LYR_REQUIRE_FUSE();
  ServedRecorder rec;
  SetFault(rec, "read_fail_offset", 1000000);  // inside LYR0002 (1,920,000 bytes)
  ASSERT_TRUE(rec.Start());
  const fs::path out = rec.dir() / "out";
  fs::create_directories(out);
  const RunResult r = rec.Lyrctl({"export", "--sha1", "--to", out.string(), "1", "2", "3"});
  EXPECT_NE(r.exit_code, 0);
  EXPECT_NE(r.err.find("Read file error!"), std::string::npos) << r.err;
  EXPECT_TRUE(fs::exists(out / "LYR0001.wav"));
  EXPECT_TRUE(fs::exists(out / "LYR0001.txt"));
  EXPECT_FALSE(fs::exists(out / "LYR0002.wav")) << "an incomplete copy never passes for a complete one";
  EXPECT_TRUE(fs::exists(out / "LYR0002.wav.partial"));
  EXPECT_FALSE(fs::exists(out / "LYR0002.txt"));
  EXPECT_FALSE(fs::exists(out / "LYR0003.wav")) << "the job ends at the read failure";
}

TEST(LyrctlTransfer, RecordingsNamedAlikeAreEachExportedToTheirOwnFile) {
  LYR_REQUIRE_FUSE();
  ServedRecorder rec(false);
  const char* names[] = {"DUP", "DUP", "dup", "a.b", "a.c", ".", "/", "DUP"};
  const char* files[] = {"DUP", "DUP_2", "dup_3", "a", "a_2", "_", "__2", "DUP_4"};
  for (size_t i = 0; i < std::size(names); ++i) {
    const fs::path wav = rec.dir() / "in.wav";
    WriteWave(wav, 4000 + static_cast<uint32_t>(i) * 2, static_cast<uint8_t>(i));
    const RunResult add = lyr_test::Run(
        {lyr_test::LyrEmuPath(), "add", rec.store().string(), wav.string(), "--name", names[i]});
    ASSERT_EQ(add.exit_code, 0) << add.err;
  }
  ASSERT_TRUE(rec.Start());
  const fs::path out = rec.dir() / "out";
  for (const char* answer : {"--yes", "--no"}) {
    SCOPED_TRACE(answer);
    fs::remove_all(out);
    const RunResult r = rec.Lyrctl({"--json", "export", "--all", "--sha1", answer, "--to", out.string()});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.err.find("Would you like to replace"), std::string::npos) << "nothing of its own is replaced";
    const json exports = json::parse(r.out)["exports"];
    ASSERT_EQ(exports.size(), std::size(names));
    for (size_t i = 0; i < std::size(names); ++i) {
      const fs::path file = out / (std::string(files[i]) + ".wav");
      EXPECT_EQ(exports[i]["file"], file.string());
      EXPECT_TRUE(exports[i]["copied"].get<bool>());
      const std::string data = StoreData(rec, static_cast<uint32_t>(i + 1));
      const std::string written = Slurp(file);
      ASSERT_EQ(written.size(), 724 + data.size()) << file;
      EXPECT_EQ(written.substr(724), data) << file;
      EXPECT_EQ(Slurp(out / (std::string(files[i]) + ".txt")), exports[i]["sha1"]) << file;
    }
  }
  for (const auto& row : json::parse(rec.Lyrctl({"--json", "list"}).out)["recordings"])
    EXPECT_TRUE(row["copied"].get<bool>());
}

TEST(LyrctlTransfer, FailuresSayWhichFileAndWhy) {
  LYR_REQUIRE_FUSE();
  ServedRecorder rec;
  ASSERT_TRUE(rec.Start());
  const fs::path out = rec.dir() / "out";
  fs::create_directories(out / "LYR0003.wav.partial");  // a folder where the copy is written
  fs::create_symlink(rec.dir() / "elsewhere.txt", out / "LYR0001.txt");
  const RunResult r = rec.Lyrctl({"export", "--sha1", "--yes", "--to", out.string(), "1", "2", "3"});
  EXPECT_NE(r.exit_code, 0);
  // The system's message, then the file and the reason.
  EXPECT_NE(r.err.find("LYR0001: digest file not written: " + (out / "LYR0001.txt").string() +
                       " (a symbolic link): Too many levels of symbolic links"),
            std::string::npos)
      << r.err;
  EXPECT_TRUE(fs::is_symlink(out / "LYR0001.txt"));
  EXPECT_FALSE(fs::exists(rec.dir() / "elsewhere.txt"));
  EXPECT_NE(r.err.find("LYR0003: Create local file error! " + (out / "LYR0003.wav.partial").string() +
                       ": Is a directory"),
            std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find("not every recording was exported: LYR0001, LYR0003"), std::string::npos) << r.err;
  EXPECT_EQ(Slurp(out / "LYR0002.txt").size(), 40u);

  // The folder itself: a file in the way, and a folder the user may not write
  // in (as the superuser, lyrctl runs as nobody for that).
  const fs::path file = rec.dir() / "file";
  std::ofstream(file) << "x";
  const RunResult not_dir = rec.Lyrctl({"export", "--to", file.string(), "1"});
  EXPECT_NE(not_dir.exit_code, 0);
  EXPECT_NE(not_dir.err.find(file.string() + ": Not a directory"), std::string::npos) << not_dir.err;

  const fs::path ro = rec.dir() / "ro";
  fs::create_directories(ro);
  fs::permissions(rec.dir().path(), fs::perms::others_exec, fs::perm_options::add);
  fs::permissions(
      ro, fs::perms::owner_read | fs::perms::owner_exec | fs::perms::others_read | fs::perms::others_exec);
  std::vector<std::string> argv = {lyr_test::LyrctlPath(), "--device", rec.disk(), "export", "--to",
                                   (ro / "sub").string(),  "1"};
  if (::geteuid() == 0)
    argv.insert(argv.begin(), {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"});
  const RunResult read_only = lyr_test::Run(argv);
  EXPECT_NE(read_only.exit_code, 0);
  EXPECT_NE(read_only.err.find((ro / "sub").string() + ": Permission denied"), std::string::npos)
      << read_only.err;
}

TEST(LyrctlTransfer, DeleteRemovesFromTheRecorder) {
  LYR_REQUIRE_FUSE();
  ServedRecorder rec;
  ASSERT_TRUE(rec.Start());
  const RunResult refused = rec.Lyrctl({"delete", "2"});  // no terminal to confirm
  EXPECT_EQ(refused.exit_code, 2);                        // as format and reset-counter
  EXPECT_NE(refused.err.find("use --yes"), std::string::npos) << refused.err;
  EXPECT_TRUE(fs::exists(rec.store() / "recordings" / "2.dat"));

  const RunResult r = rec.Lyrctl({"delete", "--yes", "2", "LYR0005"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  const json rows = json::parse(rec.Lyrctl({"--json", "list"}).out)["recordings"];
  ASSERT_EQ(rows.size(), 4u);
  for (const auto& row : rows) {
    EXPECT_NE(row["entry"], 2);
    EXPECT_NE(row["entry"], 5);
  }
  EXPECT_FALSE(fs::exists(rec.store() / "recordings" / "2.dat"));
}

TEST(LyrctlTransfer, ADeleteThatStaysBusyIsReported) {
  LYR_REQUIRE_FUSE();
  ServedRecorder rec;
  SetFault(rec, "delete_busy_polls", -1);
  ASSERT_TRUE(rec.Start());
  const RunResult r = rec.Lyrctl({"delete", "--yes", "3"});
  EXPECT_NE(r.exit_code, 0);
  EXPECT_NE(r.out.find("LYR0003      not deleted"), std::string::npos) << r.out;
}

TEST(LyrctlTransfer, ADeleteDoneAfterTheLastBusyPollIsReportedDone) {
  LYR_REQUIRE_FUSE();
  ServedRecorder rec;
  SetFault(rec, "delete_busy_polls", 1500);  // more than the job waits for
  ASSERT_TRUE(rec.Start());
  const RunResult r = rec.Lyrctl({"delete", "--yes", "3", "4"});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_NE(r.out.find("LYR0003      deleted"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("LYR0004      deleted"), std::string::npos) << r.out;
  const RunResult j = rec.Lyrctl({"--json", "delete", "--yes", "5"});
  EXPECT_EQ(j.exit_code, 0) << j.err;
  const json out = json::parse(j.out);
  EXPECT_TRUE(out["complete"].get<bool>());
  EXPECT_TRUE(out["deletions"][0]["deleted"].get<bool>());
  EXPECT_EQ(json::parse(rec.Lyrctl({"--json", "list"}).out)["recordings"].size(), 3u);
}

}  // namespace
