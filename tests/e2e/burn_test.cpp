// lyrctl burn-data and burn-audio against a served stand-in recorder, the
// real genisoimage and the stand-in disc writer: the disc read back with
// osirrox holds exactly what lyrctl export writes, the audio CD tracks match
// an independent decode and resample (mpg123, sox), and every failure leaves
// no temporary file behind and nothing marked copied.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <nlohmann/json.hpp>

#include "e2e/e2e_support.h"

namespace {

using json = nlohmann::json;
using lyr_test::RunResult;
using lyr_test::ServedRecorder;
using lyr_test::Slurp;
namespace fs = std::filesystem;

std::string BurnEmuBin() { return std::string(LYR_TEST_BINARY_DIR) + "/tools/lyr-burn-emu/bin/"; }

std::string Shell(const std::string& command) {
  const RunResult r = lyr_test::Run({"/bin/sh", "-c", command});
  EXPECT_EQ(r.exit_code, 0) << command << "\n" << r.err;
  return r.out;
}

// Every file under `root`, by its path relative to it.
std::map<std::string, std::string> Tree(const fs::path& root) {
  std::map<std::string, std::string> files;
  for (const auto& e : fs::recursive_directory_iterator(root))
    if (e.is_regular_file()) files["/" + fs::relative(e.path(), root).string()] = Slurp(e.path());
  return files;
}

std::map<std::string, std::string> ReadBack(const fs::path& iso, const fs::path& into) {
  fs::remove_all(into);
  Shell("osirrox -indev '" + iso.string() + "' -extract / '" + into.string() + "' 2>/dev/null");
  // osirrox gives the files its own permissions; the contents are what count.
  return Tree(into);
}

bool NothingCopied(ServedRecorder& rec) {
  const json rows = json::parse(rec.Lyrctl({"--json", "list"}).out)["recordings"];
  for (const auto& row : rows)
    if (row["copied"].get<bool>()) return false;
  return true;
}

// A stand-in writer's state: one CD/DVD writer at 0,0,0 with a disc.
struct WriterState {
  explicit WriterState(const fs::path& dir, const std::string& disc = "kind=CD-R\nblank=1\nfree=359849\n")
      : state(dir / "writer"), temp(dir / "burn-temp") {
    fs::create_directories(state);
    fs::create_directories(temp);
    std::ofstream(state / "drives.txt") << "0,0,0 'HL-DT-ST' 'DVDRAM GH22NS50' 0x1FFF 0x1FEE\n";
    SetDisc(disc);
  }
  void SetDisc(const std::string& text) const { std::ofstream(state / "disc-0,0,0.txt") << text; }
  std::vector<std::string> Env(const std::string& writer = "cdrecord") const {
    return {"LYR_CDRECORD=" + BurnEmuBin() + writer, "LYR_MKISOFS=/usr/bin/genisoimage",
            "LYR_BURN_EMU_STATE=" + state.string()};
  }
  bool TempEmpty() const { return fs::is_empty(temp); }
  fs::path state, temp;
};

TEST(LyrctlBurn, DataDiscAndImageHoldTheExportsAndTheirDigests) {
  LYR_REQUIRE_FUSE();
  ServedRecorder rec;
  ASSERT_TRUE(rec.Start());
  const struct {
    const char* mpeg;
    const char* pcm;
    const char* writer;  // empty: --image
  } cases[] = {
      {"bwf", "bwf", ""}, {"wav", "wav", "cdrecord"}, {"raw", "bwf", "cdrskin"}, {"bwf", "wav", "wodim"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.mpeg) + "/" + c.pcm + " " + c.writer);
    const fs::path dir = rec.dir() / (std::string("case-") + c.mpeg + c.pcm + c.writer);
    WriterState writer(dir);
    // The reference: lyrctl export of the same recordings.
    const fs::path out = dir / "export";
    fs::create_directories(out);
    ASSERT_EQ(rec.Lyrctl({"export", "--sha1", "--yes", "--to", out.string(), "--mpeg-format", c.mpeg,
                          "--pcm-format", c.pcm, "1", "2", "3", "4", "5", "6"})
                  .exit_code,
              0);
    std::vector<std::string> args = {"burn-data",
                                     "--sha1",
                                     "--temp",
                                     writer.temp.string(),
                                     "--label",
                                     "T \"1\";$(touch pwned)|`id`\nx",
                                     "--mpeg-format",
                                     c.mpeg,
                                     "--pcm-format",
                                     c.pcm,
                                     "1",
                                     "2",
                                     "3=Music/Live/three",
                                     "4=Music/LYR0004",
                                     "5",
                                     "6",
                                     "3=Copies/three"};
    fs::path iso = dir / "disc.iso";
    if (*c.writer == '\0') {
      args.insert(args.begin() + 1, {"--image", iso.string()});
    } else {
      iso = writer.state / "burned" / "0,0,0" / "image.iso";
    }
    const RunResult r = rec.Lyrctl(args, writer.Env(*c.writer ? c.writer : "cdrecord"));
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_NE(r.err.find("Burned successfully!"), std::string::npos) << r.err;
    const auto disc = ReadBack(iso, dir / "readback");

    // A PCM file in BWF carries its file name in the header, so it is placed
    // under the name the export gives it; MPEG files carry the recording's.
    const std::string mpeg_ext = std::string(c.mpeg) == "raw" ? ".mp2" : ".wav";
    std::map<std::string, std::string> expected;
    auto place = [&](const std::string& at, const std::string& stem, bool mpeg) {
      expected[at + (mpeg ? mpeg_ext : ".wav")] = Slurp(out / (stem + (mpeg ? mpeg_ext : ".wav")));
      expected[at + ".txt"] = Slurp(out / (stem + ".txt"));
    };
    place("/LYR0001", "LYR0001", true);
    place("/LYR0002", "LYR0002", false);
    place("/Music/Live/three", "LYR0003", true);
    place("/Music/LYR0004", "LYR0004", false);
    place("/LYR0005", "LYR0005", true);
    place("/LYR0006", "LYR0006", false);
    place("/Copies/three", "LYR0003", true);
    EXPECT_EQ(disc.size(), expected.size());
    for (const auto& [path, bytes] : expected) {
      ASSERT_TRUE(disc.count(path)) << path;
      EXPECT_TRUE(disc.at(path) == bytes) << path << " differs from the export";
      if (path.ends_with(".txt")) continue;
      const std::string sum = Shell("sha1sum '" + (dir / "readback").string() + path + "' | cut -c1-40");
      EXPECT_EQ(disc.at(path.substr(0, path.size() - 4) + ".txt"), sum.substr(0, 40)) << path;
    }
    // The label reached the image maker as one argument, never a shell.
    EXPECT_NE(Shell("isoinfo -d -i '" + iso.string() + "'").find("Volume id: T \"1\";$(touch pwned)|`id`"),
              std::string::npos);
    EXPECT_FALSE(fs::exists(rec.dir() / "pwned") || fs::exists("pwned"));
    EXPECT_TRUE(writer.TempEmpty());
  }
}

std::vector<int16_t> Samples(const std::string& bytes) {
  std::vector<int16_t> v(bytes.size() / 2);
  std::memcpy(v.data(), bytes.data(), v.size() * 2);
  return v;
}

// RMS of the difference against the reference's RMS, in dB, over the frames
// both hold (edges left out).
double DifferenceDb(const std::vector<int16_t>& ours, const std::vector<int16_t>& ref) {
  const size_t n = std::min(ours.size(), ref.size());
  double diff = 0, sig = 0;
  for (size_t i = 200; i + 200 < n; ++i) {
    const double d = ours[i] - ref[i];
    diff += d * d;
    sig += static_cast<double>(ref[i]) * ref[i];
  }
  return 10 * std::log10(diff / std::max(sig, 1.0));
}

TEST(LyrctlBurn, AudioCdTracksMatchAnIndependentDecodeAndResample) {
  LYR_REQUIRE_FUSE();
  ServedRecorder rec;
  ASSERT_TRUE(rec.Start());
  WriterState writer(rec.dir().path());
  // 48 kHz Layer II stereo, 44.1 kHz PCM mono, 32 kHz PCM stereo.
  const RunResult r =
      rec.Lyrctl({"burn-audio", "--temp", writer.temp.string(), "1", "4", "6"}, writer.Env("cdrskin"));
  ASSERT_EQ(r.exit_code, 0) << r.err;
  const fs::path burned = writer.state / "burned" / "0,0,0";
  const fs::path store = rec.store() / "recordings";
  const fs::path work = rec.dir() / "ref";
  fs::create_directories(work);
  const std::string raw16 = " -t raw -e signed -b 16 -c 2 ";

  // Track 1: mpg123's decode, resampled by sox.
  Shell("mpg123 -q -s '" + (store / "1.dat").string() + "' > '" + (work / "1.pcm").string() + "'");
  Shell("sox -D" + raw16 + "-r 48000 '" + (work / "1.pcm").string() + "'" + raw16 + "-r 44100 '" +
        (work / "1.ref").string() + "' rate -v 44100");
  const auto t1 = Samples(Slurp(burned / "track01.cdda"));
  const auto ref1 = Samples(Slurp(work / "1.ref"));
  EXPECT_NEAR(static_cast<double>(t1.size()), static_cast<double>(ref1.size()), 1176.0 + 64);
  const double d1 = DifferenceDb(t1, ref1);
  std::printf("track 1 (48 kHz Layer II) against mpg123 | sox: %.1f dB\n", d1);
  EXPECT_LT(d1, -70);

  // Track 2: 44.1 kHz mono goes through unchanged, doubled.
  const auto mono = Samples(Slurp(store / "4.dat"));
  const auto t2 = Samples(Slurp(burned / "track02.cdda"));
  ASSERT_EQ(t2.size(), (mono.size() * 2 + 1175) / 1176 * 1176);  // whole sectors
  for (size_t i = 0; i < mono.size(); ++i) {
    ASSERT_EQ(t2[2 * i], mono[i]) << i;
    ASSERT_EQ(t2[2 * i + 1], mono[i]) << i;
  }

  // Track 3: 32 kHz PCM resampled by sox.
  Shell("sox -D" + raw16 + "-r 32000 '" + (store / "6.dat").string() + "'" + raw16 + "-r 44100 '" +
        (work / "6.ref").string() + "' rate -v 44100");
  const auto t3 = Samples(Slurp(burned / "track03.cdda"));
  const auto ref3 = Samples(Slurp(work / "6.ref"));
  EXPECT_NEAR(static_cast<double>(t3.size()), static_cast<double>(ref3.size()), 1176.0 + 64);
  const double d3 = DifferenceDb(t3, ref3);
  std::printf("track 3 (32 kHz PCM) against sox: %.1f dB\n", d3);
  // The stand-in's 32 kHz recording is full-band: its top (14 to 16 kHz) is
  // where libsoxr's high quality and sox's very high quality part ways a little.
  EXPECT_LT(d3, -50);

  EXPECT_TRUE(writer.TempEmpty());
  const json rows = json::parse(rec.Lyrctl({"--json", "list"}).out)["recordings"];
  EXPECT_TRUE(rows[0]["copied"].get<bool>() && rows[3]["copied"].get<bool>() &&
              rows[5]["copied"].get<bool>());
  EXPECT_FALSE(rows[1]["copied"].get<bool>());
}

TEST(LyrctlBurn, FaultsAndCancelLeaveNothingBehindAndNothingMarked) {
  LYR_REQUIRE_FUSE();
  ServedRecorder rec;
  ASSERT_TRUE(rec.Start());
  const struct {
    const char* disc;
    const char* command;
    int exit_code;
    const char* says;
  } cases[] = {
      {"kind=none\n", "burn-audio", 1, "No disk or wrong disk."},
      {"kind=DVD-R\nblank=1\nfree=2295104\n", "burn-audio", 1, "The disk is not a CD-R or CD-RW."},
      {"kind=CD-R\nblank=1\nfree=10\n", "burn-data", 1, "There is no enough place in CD."},
      {"kind=CD-R\nblank=1\nfree=359849\nfault=fail\n", "burn-audio", 1, "Burning failed!"},
      {"kind=CD-R\nblank=1\nfree=359849\nfault=error-midway\n", "burn-data", 1, "Burning failed!"},
      {"kind=CD-R\nblank=1\nfree=359849\nfault=fail-silent\n", "burn-data", 1, "Burning failed!"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.command) + " " + c.disc);
    WriterState writer(rec.dir() / ("f" + std::to_string(&c - cases)), c.disc);
    const RunResult r = rec.Lyrctl({c.command, "--temp", writer.temp.string(), "1", "2"}, writer.Env());
    EXPECT_EQ(r.exit_code, c.exit_code) << r.err;
    EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
    // A writer's error of several lines is shown as lines, and ends the failure message.
    EXPECT_EQ(r.err.find("\\x0a"), std::string::npos) << r.err;
    if (std::string(c.disc).find("fault=fail\n") != std::string::npos) {
      EXPECT_NE(r.err.find("failed: Cannot open new session.; Cannot fixate disk."), std::string::npos) << r.err;
    }
    EXPECT_TRUE(writer.TempEmpty());
    EXPECT_TRUE(NothingCopied(rec));
  }

  // Ctrl+C while the writer burns: the job's abort, the writer interrupted.
  WriterState writer(rec.dir() / "cancel", "kind=CD-R\nblank=1\nfree=359849\nfault=hang\n");
  std::vector<std::string> argv = {lyr_test::LyrctlPath(), "--device", rec.disk(), "burn-audio", "--temp",
                                   writer.temp.string(),   "1",        "2"};
  const pid_t pid = lyr_test::Spawn(argv, rec.dir() / "cancel.out", rec.dir() / "cancel.err", writer.Env());
  for (int i = 0; i < 200 && Slurp(rec.dir() / "cancel.err").find("Burning ...") == std::string::npos; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  ::kill(pid, SIGINT);
  const int code = lyr_test::WaitExitWithin(pid, std::chrono::seconds(20));
  if (code < 0) lyr_test::Kill(pid);
  EXPECT_EQ(code, 130);
  const std::string err = Slurp(rec.dir() / "cancel.err");
  EXPECT_NE(err.find("User Abort!"), std::string::npos) << err;
  EXPECT_TRUE(writer.TempEmpty());
  EXPECT_TRUE(NothingCopied(rec));
}

TEST(LyrctlBurn, AudioCdKeepsTheOrderGivenAndRepeats) {
  LYR_REQUIRE_FUSE();
  ServedRecorder rec;
  ASSERT_TRUE(rec.Start());
  WriterState writer(rec.dir().path());
  const RunResult r = rec.Lyrctl({"burn-audio", "--temp", writer.temp.string(), "4", "1", "4"}, writer.Env());
  ASSERT_EQ(r.exit_code, 0) << r.err;
  const fs::path burned = writer.state / "burned" / "0,0,0";
  ASSERT_TRUE(fs::exists(burned / "track03.cdda"));
  EXPECT_FALSE(fs::exists(burned / "track04.cdda"));
  const auto first = Samples(Slurp(burned / "track01.cdda"));
  EXPECT_TRUE(first == Samples(Slurp(burned / "track03.cdda")));
  EXPECT_FALSE(first == Samples(Slurp(burned / "track02.cdda")));
  // Recording 4 (44.1 kHz mono, doubled) comes first.
  const auto mono = Samples(Slurp(rec.store() / "recordings" / "4.dat"));
  ASSERT_GT(first.size(), 200u);
  for (size_t i = 0; i < 100; ++i) ASSERT_EQ(first[2 * i], mono[i]) << i;
}

// A stand-in image maker: writes part of the image, then says the disk is
// full, or hangs until stopped (its process id in $FAKE_MAKER_PID).
fs::path FakeImageMaker(const fs::path& dir) {
  const fs::path maker = dir / "mkisofs";
  std::ofstream(maker) << "#!/bin/sh\n"
                          "out=\n"
                          "while [ $# -gt 0 ]; do [ \"$1\" = -o ] && out=$2; shift; done\n"
                          "printf 'half an image' > \"$out\"\n"
                          "if [ \"$FAKE_MAKER\" = full ]; then\n"
                          "  echo 'mkisofs: No space left on device. Cannot write the image.' >&2; exit 1\n"
                          "fi\n"
                          "echo $$ > \"$FAKE_MAKER_PID\"\n"
                          "exec sleep 60\n";
  fs::permissions(maker, fs::perms::owner_all);
  return maker;
}

bool ProcessGone(const fs::path& pid_file) {
  const std::string text = Slurp(pid_file);
  const pid_t pid = static_cast<pid_t>(std::atol(text.c_str()));
  return pid > 0 && ::kill(pid, 0) != 0 && errno == ESRCH;
}

// Waits for a file the stand-in tools write once they hang.
bool AppearsWithin(const fs::path& file, std::chrono::seconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!fs::exists(file) || Slurp(file).empty()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return true;
}

TEST(LyrctlBurn, ImageFileIsAskedForAndNeverLeftCut) {
  LYR_REQUIRE_FUSE();
  ServedRecorder rec;
  ASSERT_TRUE(rec.Start());
  WriterState writer(rec.dir().path());
  const fs::path image = rec.dir() / "disc.iso";
  const std::string temp = writer.temp.string();

  // An existing file is replaced only at the user's word, asked first.
  std::ofstream(image) << "keep me";
  const struct {
    std::vector<std::string> flags;
    const char* says;
  } refusals[] = {{{}, "exists (no terminal to ask; use --yes or --no)"},
                  {{"--no"}, "Confirm File Replace"},
                  {{"--yes", "--label", std::string(33, 'L')}, "--label takes at most 32 bytes"}};
  for (const auto& c : refusals) {
    std::vector<std::string> args = {"burn-data", "--temp", temp, "--image", image.string()};
    args.insert(args.end(), c.flags.begin(), c.flags.end());
    args.push_back("1");
    const RunResult r = rec.Lyrctl(args, writer.Env());
    EXPECT_NE(r.exit_code, 0) << r.err;
    EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
    EXPECT_EQ(Slurp(image), "keep me");
    EXPECT_FALSE(fs::exists(writer.state / "calls.log"));
  }

  // A full disk and a SIGTERM leave the file as it was, nothing beside it,
  // and no image maker running.
  const fs::path maker = FakeImageMaker(rec.dir().path());
  std::vector<std::string> env = writer.Env();
  env[1] = "LYR_MKISOFS=" + maker.string();
  env.push_back("FAKE_MAKER_PID=" + (rec.dir() / "maker.pid").string());
  const std::vector<std::string> args = {"burn-data", "--yes",        "--temp", temp,
                                         "--image",   image.string(), "1",      "2"};
  RunResult full = rec.Lyrctl(args, [&] {
    auto e = env;
    e.push_back("FAKE_MAKER=full");
    return e;
  }());
  EXPECT_EQ(full.exit_code, 1);
  EXPECT_NE(full.err.find("the disc image failed: No space left on device. Cannot write the image."),
            std::string::npos)
      << full.err;

  std::vector<std::string> argv = {lyr_test::LyrctlPath(), "--device", rec.disk()};
  argv.insert(argv.end(), args.begin(), args.end());
  const pid_t pid = lyr_test::Spawn(argv, rec.dir() / "term.out", rec.dir() / "term.err", env);
  ASSERT_TRUE(AppearsWithin(rec.dir() / "maker.pid", std::chrono::seconds(30)));
  ::kill(pid, SIGTERM);
  const int code = lyr_test::WaitExitWithin(pid, std::chrono::seconds(20));
  if (code < 0) lyr_test::Kill(pid);
  EXPECT_EQ(code, 130) << Slurp(rec.dir() / "term.err");
  EXPECT_TRUE(ProcessGone(rec.dir() / "maker.pid"));
  for (const fs::path& left : {image, fs::path(image.string() + ".partial")})
    EXPECT_EQ(fs::exists(left) ? Slurp(left) : "", left == image ? "keep me" : "") << left;
  EXPECT_TRUE(writer.TempEmpty());
  EXPECT_TRUE(NothingCopied(rec));

  // With --yes and a maker that ends well, the image takes the name.
  const RunResult replaced = rec.Lyrctl(args, writer.Env());
  ASSERT_EQ(replaced.exit_code, 0) << replaced.err;
  EXPECT_EQ(Slurp(image).size() % 2048, 0u);
  EXPECT_FALSE(fs::exists(image.string() + ".partial"));
}

// Ctrl+C while the disc check erases a disc, and SIGTERM while the writer
// burns: the writer is stopped, the temporary files go, nothing is marked.
TEST(LyrctlBurn, SignalsStopTheWriterOfTheCheckAndOfTheBurn) {
  LYR_REQUIRE_FUSE();
  ServedRecorder rec;
  ASSERT_TRUE(rec.Start());
  const struct {
    const char* disc;
    int signal;
  } cases[] = {{"kind=CD-RW\nblank=0\nfree=0\nfault=hang-blank\n", SIGINT},
               {"kind=CD-R\nblank=1\nfree=359849\nfault=hang\n", SIGTERM}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.disc);
    WriterState writer(rec.dir() / ("s" + std::to_string(&c - cases)), c.disc);
    const std::vector<std::string> argv = {lyr_test::LyrctlPath(), "--device", rec.disk(),
                                           "burn-audio",           "--yes",    "--temp",
                                           writer.temp.string(),   "1",        "2"};
    const fs::path err = writer.state / "lyrctl.err";
    const pid_t pid = lyr_test::Spawn(argv, writer.state / "lyrctl.out", err, writer.Env());
    ASSERT_TRUE(AppearsWithin(writer.state / "hung.pid", std::chrono::seconds(30))) << Slurp(err);
    ::kill(pid, c.signal);
    const int code = lyr_test::WaitExitWithin(pid, std::chrono::seconds(20));
    if (code < 0) lyr_test::Kill(pid);
    EXPECT_EQ(code, 130) << Slurp(err);
    EXPECT_TRUE(ProcessGone(writer.state / "hung.pid"));
    EXPECT_TRUE(writer.TempEmpty());
    EXPECT_TRUE(NothingCopied(rec));
    // The erase question is shown as its two lines.
    if (c.signal == SIGINT) {
      EXPECT_NE(Slurp(err).find("ease the disk?\nIt won't"), std::string::npos) << Slurp(err);
    }
  }
}

}  // namespace
