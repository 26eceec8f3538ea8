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
  const Case cases[] = {{"bwf", "bwf", 780, 724, ".wav"}, {"wav", "wav", 100, 44, ".wav"}, {"raw", "bwf", 0, 724, ".mp2"}};
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
      "w.getsampwidth(), w.getnframes())\" '" + (rec.dir() / "out-wav-wav" / "LYR0004.wav").string() + "'");
  EXPECT_EQ(info, "1 44100 2 264600\n");
  // sox reads the PCM BWF files (bext chunk before fmt) with the same figures.
  const std::string sox = Shell("sox --i -r '" + (rec.dir() / "out-bwf-bwf" / "LYR0002.wav").string() +
                                "'; sox --i -c '" + (rec.dir() / "out-bwf-bwf" / "LYR0002.wav").string() + "'");
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
  {
    json j = json::parse(Slurp(rec.store() / "recorder.json"));
    j["faults"]["read_fail_offset"] = 1000000;  // inside LYR0002 (1,920,000 bytes)
    std::ofstream(rec.store() / "recorder.json") << j.dump(2);
  }
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

TEST(LyrctlTransfer, DeleteRemovesFromTheRecorder) {
  LYR_REQUIRE_FUSE();
  ServedRecorder rec;
  ASSERT_TRUE(rec.Start());
  const RunResult refused = rec.Lyrctl({"delete", "2"});  // no terminal to confirm
  EXPECT_NE(refused.exit_code, 0);
  EXPECT_NE(refused.err.find("Are you sure to delete all files selected?"), std::string::npos) << refused.err;
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
  {
    json j = json::parse(Slurp(rec.store() / "recorder.json"));
    j["faults"]["delete_busy_polls"] = -1;
    std::ofstream(rec.store() / "recorder.json") << j.dump(2);
  }
  ASSERT_TRUE(rec.Start());
  const RunResult r = rec.Lyrctl({"delete", "--yes", "3"});
  EXPECT_NE(r.exit_code, 0);
  EXPECT_NE(r.out.find("LYR0003      not deleted"), std::string::npos) << r.out;
}

}  // namespace
