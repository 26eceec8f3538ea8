// The tool runner driving the stand-in writer under each of its three names,
// with the real genisoimage as the image maker.
#include "burn/burner_tools.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "burn/drive_watcher.h"
#include "platform/last_error.h"
#include "support/command_output.h"
#include "support/temp_dir.h"

namespace lyr::burn {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using lyr_test::CommandOutput;

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteFile(const fs::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

// A CD-format WAVE file of `frames` stereo frames.
void WriteCdWave(const fs::path& path, uint32_t frames, int16_t value) {
  const uint32_t data = frames * 4;
  std::string h = "RIFF";
  auto u32 = [&](uint32_t v) {
    for (int i = 0; i < 4; ++i) h.push_back(static_cast<char>(v >> (8 * i)));
  };
  auto u16 = [&](uint16_t v) {
    h.push_back(static_cast<char>(v));
    h.push_back(static_cast<char>(v >> 8));
  };
  u32(data + 36);
  h += "WAVEfmt ";
  u32(16);
  u16(1);
  u16(2);
  u32(44100);
  u32(176400);
  u16(4);
  u16(16);
  h += "data";
  u32(data);
  for (uint32_t i = 0; i < frames * 2; ++i) u16(static_cast<uint16_t>(value));
  WriteFile(path, h);
}

struct Persona {
  const char* name;
  WriterKind kind;
};
void PrintTo(const Persona& p, std::ostream* os) { *os << p.name; }

class BurnerToolsTest : public ::testing::TestWithParam<Persona> {
 protected:
  void SetUp() override {
    state_ = tmp_ / "state";
    fs::create_directories(state_);
    fs::create_directories(tmp_ / "work");
    ::setenv("LYR_BURN_EMU_STATE", state_.c_str(), 1);
    WriteFile(state_ / "drives.txt",
              "0,0,0 'HL-DT-ST' 'DVDRAM GH22NS50' 0x1FFF 0x1FEE\n"
              "1,0,0 'hp' 'DVD-ROM SU-108GB' 0x0011 0x0\n");
    SetDisc("kind=CD-R\nblank=1\nfree=359849\n");
    tools_.UseTools(std::string(LYR_BURN_EMU_BIN) + "/" + GetParam().name, "/usr/bin/genisoimage");
    tools_.SetBurnTempFolder((tmp_ / "work").string());
  }
  void TearDown() override { ::unsetenv("LYR_BURN_EMU_STATE"); }

  void SetDisc(const std::string& text) { WriteFile(state_ / "disc-0,0,0.txt", text); }

  // Polls every 10 ms until the tool ends; the percentages seen and the
  // error text gathered.
  int PollToEnd(bool audio, std::vector<int>* percents, std::string* errors) {
    int exit_code = kStillActive, percent = 0;
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (exit_code == kStillActive && std::chrono::steady_clock::now() < deadline) {
      std::string error_text;
      const int r = audio ? tools_.PollAudioBurn(&exit_code, &percent, &error_text)
                          : tools_.PollDataBurn(&exit_code, &percent, &error_text);
      if (r != 0) return -1;
      *errors += error_text;
      if (percents->empty() || percents->back() != percent) percents->push_back(percent);
      std::this_thread::sleep_for(10ms);
    }
    return exit_code;
  }

  std::vector<std::string> Tracks(int count, uint32_t frames) {
    std::vector<std::string> paths;
    for (int i = 0; i < count; ++i) {
      paths.push_back((tmp_ / ("t" + std::to_string(i) + ".wav")).string());
      WriteCdWave(paths.back(), frames + static_cast<uint32_t>(i), static_cast<int16_t>(100 * (i + 1)));
    }
    return paths;
  }

  lyr_test::TempDir tmp_;
  fs::path state_;
  BurnerTools tools_;
};

TEST_P(BurnerToolsTest, LearnsTheWriterAndListsItsDrives) {
  EXPECT_EQ(tools_.Writer(), GetParam().kind);
  ASSERT_EQ(tools_.ScanBurnerDrives(), 0);
  ASSERT_EQ(tools_.GetWriterCount(), 1);
  const BURN_DRIVE_INFO writer = tools_.GetWriterInfo(0);
  EXPECT_EQ(writer.device, 0u);
  EXPECT_EQ(std::string(writer.name).rfind("HL-DT-STDVDRAM GH22NS50", 0), 0u) << writer.name;
  // What each writer can tell: wodim's page 2A has no DVD+ kinds.
  EXPECT_EQ(writer.write_capabilities & (MEDIA_CDR | MEDIA_CDRW | MEDIA_DVDR | MEDIA_DVDRAM),
            MEDIA_CDR | MEDIA_CDRW | MEDIA_DVDR | MEDIA_DVDRAM);
  EXPECT_EQ((writer.write_capabilities & MEDIA_DVDPLUSR) != 0, GetParam().kind != WriterKind::kWodim);
  EXPECT_EQ(tools_.GetWriterInfo(1).device, 0u);
  EXPECT_EQ(tools_.GetWriterInfo(-1).name[0], '\0');

  uint32_t read = 0, write = 1;
  EXPECT_EQ(tools_.GetDriveCapabilities(0x10000, &read, &write), 0);  // the reader: listed, no writer
  EXPECT_EQ(write, 0u);
  EXPECT_NE(read & MEDIA_DVDROM, 0u);
  EXPECT_EQ(tools_.GetDriveCapabilities(0x20000, &read, &write), 1);

  WriteFile(state_ / "drives.txt", "");
  ASSERT_EQ(tools_.ScanBurnerDrives(), 0);
  EXPECT_EQ(tools_.GetWriterCount(), 0);
}

TEST_P(BurnerToolsTest, DiscQueryWithEachWritersOwnCommands) {
  struct Case {
    const char* disc;
    uint32_t kind;
    uint64_t free_bytes;
  } cases[] = {
      {"kind=CD-R\nblank=1\nfree=359849\n", MEDIA_CDR, 359849ull * 2048},
      {"kind=CD-RW\nblank=0\nfree=0\n", MEDIA_CDRW, 0},
      {"kind=CD-R\nblank=0\nfree=0\n", MEDIA_CDROM, 0},  // a full disc
      {"kind=none\n", 0, 0},
      {"kind=DVD+RW\nblank=0\n", MEDIA_DVDPLUSRW, 4700372992ull},
  };
  for (const auto& c : cases) {
    SetDisc(c.disc);
    uint32_t kind = 99;
    uint64_t free_bytes = 99;
    EXPECT_EQ(tools_.QueryDiscInfo(0, &kind, &free_bytes), 0) << c.disc;
    EXPECT_EQ(kind, c.kind) << c.disc;
    EXPECT_EQ(free_bytes, c.free_bytes) << c.disc;
  }
  uint32_t kind;
  uint64_t free_bytes;
  EXPECT_EQ(tools_.QueryDiscInfo(0x20000, &kind, &free_bytes), 1);  // no such drive
  // wodim is never asked for the -minfo it refuses.
  const std::string calls = ReadFile(state_ / "calls.log");
  EXPECT_EQ(calls.find("-minfo") == std::string::npos, GetParam().kind == WriterKind::kWodim);
}

TEST_P(BurnerToolsTest, QuickBlankFallsBackToOneFullBlank) {
  SetDisc("kind=CD-RW\nblank=0\nfree=0\nfault=blank-needs-all\n");
  EXPECT_EQ(tools_.BlankDisc(0, 1), 1);
  ASSERT_EQ(tools_.BlankDisc(0, 0), 0);
  const std::string calls = ReadFile(state_ / "calls.log");
  size_t fast = 0, all = 0;
  for (size_t at = 0; (at = calls.find("blank=fast", at)) != std::string::npos; ++at) ++fast;
  for (size_t at = 0; (at = calls.find("blank=all", at)) != std::string::npos; ++at) ++all;
  EXPECT_EQ(fast, 1u);
  EXPECT_EQ(all, 1u);
  uint32_t kind;
  uint64_t free_bytes;
  ASSERT_EQ(tools_.QueryDiscInfo(0, &kind, &free_bytes), 0);
  EXPECT_EQ(kind, MEDIA_CDRW);
  EXPECT_GT(free_bytes, 0u);
}

TEST_P(BurnerToolsTest, DataBurnWritesTheImageTheMakerBuilt) {
  WriteFile(tmp_ / "one.txt", "first file\n");
  WriteFile(tmp_ / "two=2.txt", std::string(300000, 'x'));
  const std::vector<GraftPoint> grafts = {{(tmp_ / "one.txt").string(), "\\Music\\one.txt"},
                                          {(tmp_ / "two=2.txt").string(), "\\two=2.txt"}};
  uint64_t sectors = 0;
  ASSERT_EQ(tools_.EstimateImageSize(grafts, &sectors), 0);
  EXPECT_GT(sectors, 150u);
  EXPECT_EQ(ReadFile(tmp_ / "work" / "pathlist.lst"), "Music/one.txt=" + (tmp_ / "one.txt").string() +
                                                          "\ntwo\\=2.txt=" + (tmp_ / "two\\=2.txt").string() +
                                                          "\n");

  // Each image maker, its image piped into the writer.
  for (const char* maker : {"/usr/bin/genisoimage", "/usr/bin/xorrisofs"}) {
    tools_.UseTools(tools_.WriterPath(), maker);
    SetDisc("kind=CD-R\nblank=1\nfree=359849\n");
    ASSERT_EQ(tools_.EstimateImageSize(grafts, &sectors), 0);
    ASSERT_EQ(tools_.StartDataBurn(0, "", grafts, 0, MEDIA_CDR), 0);
    std::vector<int> percents;
    std::string errors;
    EXPECT_EQ(PollToEnd(false, &percents, &errors), 0) << maker;
    EXPECT_EQ(errors, "") << maker;
    EXPECT_EQ(percents.back(), 100);

    const fs::path iso = state_ / "burned" / "0,0,0" / "image.iso";
    EXPECT_EQ(fs::file_size(iso), sectors * 2048) << maker;
    EXPECT_EQ(CommandOutput("isoinfo -J -i '" + iso.string() + "' -x /Music/one.txt"), "first file\n")
        << maker;
    EXPECT_EQ(CommandOutput("isoinfo -J -i '" + iso.string() + "' -x /two=2.txt").size(), 300000u) << maker;
    EXPECT_NE(CommandOutput("isoinfo -d -i '" + iso.string() + "'").find("Volume id: CD\n"),
              std::string::npos);
  }
  const std::string calls = ReadFile(state_ / "calls.log");
  EXPECT_NE(calls.find("-tao\n"), std::string::npos);
}

TEST_P(BurnerToolsTest, UserTextNeverReachesAShell) {
  // Quotes, separators, substitutions and a pipe stay one argument each.
  const std::string label = "a\";touch L;$(touch M)|`x`";
  const std::string name = "b';touch N;$(touch O)|.txt";
  WriteFile(tmp_ / name, "payload");
  const std::vector<GraftPoint> grafts = {{(tmp_ / name).string(), "\\" + name}};
  const fs::path old = fs::current_path();
  fs::current_path(tmp_ / "work");
  ASSERT_EQ(tools_.StartDataBurn(0, label, grafts, 0, MEDIA_DVDR), 0);
  std::vector<int> percents;
  std::string errors;
  EXPECT_EQ(PollToEnd(false, &percents, &errors), 0);
  fs::current_path(old);
  EXPECT_EQ(errors, "");
  for (const char* f : {"L", "M", "N", "O"}) {
    EXPECT_FALSE(fs::exists(tmp_ / "work" / f)) << f;
    EXPECT_FALSE(fs::exists(tmp_ / f)) << f;
  }
  const fs::path iso = state_ / "burned" / "0,0,0" / "image.iso";
  EXPECT_NE(CommandOutput("isoinfo -d -i '" + iso.string() + "'").find("Volume id: " + label + "\n"),
            std::string::npos);
  // (Joliet names turn ';' into '_'.)
  EXPECT_NE(CommandOutput("isoinfo -J -f -i '" + iso.string() + "'").find("/b'_touch N_$(touch O)|.txt"),
            std::string::npos);
  EXPECT_NE(ReadFile(state_ / "calls.log").find("-dao\n"), std::string::npos);
}

TEST_P(BurnerToolsTest, AudioBurnOfFourTracksReportsEachTrack) {
  SetDisc("kind=CD-R\nblank=1\nfree=359849\ntrack_delay_ms=300\n");
  const auto tracks = Tracks(4, 44100);
  ASSERT_EQ(tools_.StartAudioBurn(0, tracks), 0);
  std::vector<int> percents;
  std::string errors;
  EXPECT_EQ(PollToEnd(true, &percents, &errors), 0);
  EXPECT_EQ(errors, "");
  EXPECT_EQ(percents, (std::vector<int>{0, 25, 50, 75, 100}));
  for (int i = 0; i < 4; ++i) {
    const fs::path track = state_ / "burned" / "0,0,0" / ("track0" + std::to_string(i + 1) + ".cdda");
    const uint64_t bytes = (44100ull + static_cast<uint64_t>(i)) * 4;
    EXPECT_EQ(fs::file_size(track), (bytes + 2351) / 2352 * 2352) << track;
  }
}

TEST_P(BurnerToolsTest, CancelEndsAHangingBurn) {
  SetDisc("kind=CD-R\nblank=1\nfree=359849\nfault=hang\n");
  ASSERT_EQ(tools_.StartAudioBurn(0, Tracks(2, 4410)), 0);
  int exit_code = 0, percent = 0;
  std::string error_text;
  std::this_thread::sleep_for(200ms);
  ASSERT_EQ(tools_.PollAudioBurn(&exit_code, &percent, &error_text), 0);
  EXPECT_EQ(exit_code, kStillActive);
  tools_.InterruptToolProcess();
  std::vector<int> percents;
  std::string errors;
  EXPECT_EQ(PollToEnd(true, &percents, &errors), 128 + SIGINT);
  EXPECT_NE(errors, "");                                                  // an interrupted burn is no success
  EXPECT_EQ(tools_.PollAudioBurn(&exit_code, &percent, &error_text), 1);  // no child any more
}

TEST_P(BurnerToolsTest, InjectedFaultsEndInErrorText) {
  struct Case {
    const char* disc;
    bool audio;
  } cases[] = {
      {"kind=CD-R\nblank=1\nfree=359849\nfault=error-midway\n", true},
      {"kind=CD-R\nblank=1\nfree=359849\nfault=error-midway\n", false},
      {"kind=CD-R\nblank=1\nfree=359849\nfault=fail\n", true},
      {"kind=CD-R\nblank=1\nfree=359849\nfault=fail-silent\n", false},
      {"kind=CD-R\nblank=1\nfree=10\n", true},  // full
      {"kind=none\n", false},
      {"kind=CD-R\nblank=1\nfree=359849\nfault=wrong-disc\n", true},
  };
  WriteFile(tmp_ / "f.bin", std::string(200000, 'y'));
  for (const auto& c : cases) {
    SetDisc(c.disc);
    if (c.audio)
      ASSERT_EQ(tools_.StartAudioBurn(0, Tracks(2, 44100)), 0);
    else
      ASSERT_EQ(tools_.StartDataBurn(0, "X", {{(tmp_ / "f.bin").string(), "/f.bin"}}, 0, MEDIA_CDR), 0);
    std::vector<int> percents;
    std::string errors;
    PollToEnd(c.audio, &percents, &errors);
    EXPECT_NE(errors, "") << c.disc;
    EXPECT_EQ(percents.back(), 100) << c.disc;
  }
}

TEST_P(BurnerToolsTest, ARefusedScanFailsWithTheWritersText) {
  WriteFile(state_ / "refused.txt", "-scanbus\n");
  EXPECT_EQ(tools_.ScanBurnerDrives(), 1);
  EXPECT_NE(tools_.LastToolError().find("Bad Option: -scanbus."), std::string::npos)
      << tools_.LastToolError();
  const Status scanned = BurnerDrives(tools_).ScanBurnerDrives();
  ASSERT_FALSE(scanned);
  EXPECT_EQ(scanned.error().code, kErrorIoDevice);
}

// The process a hung writer had must be gone, reaped.
bool Gone(const fs::path& pid_file) {
  const pid_t pid = static_cast<pid_t>(std::stol("0" + ReadFile(pid_file)));
  return pid > 0 && ::kill(pid, 0) != 0 && errno == ESRCH;
}

TEST_P(BurnerToolsTest, AHungWriterIsStoppedByTheQueryLimitOrTheCancel) {
  SetDisc("kind=CD-R\nblank=1\nfree=359849\nfault=hang-query\n");
  tools_.SetQueryLimit(300ms);
  uint32_t kind = 0;
  uint64_t free_bytes = 0;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(tools_.QueryDiscInfo(0, &kind, &free_bytes), 1);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
  EXPECT_NE(tools_.LastToolError().find("did not answer within"), std::string::npos)
      << tools_.LastToolError();
  EXPECT_TRUE(Gone(state_ / "hung.pid"));

  SetDisc("kind=CD-RW\nblank=0\nfree=0\nfault=hang-blank\n");
  fs::remove(state_ / "hung.pid");
  tools_.SetCancelCheck([&] { return fs::exists(state_ / "hung.pid"); });
  SetLastError(0);
  EXPECT_EQ(tools_.BlankDisc(0, 0), 1);
  EXPECT_EQ(GetLastError(), kErrorCancelled);
  EXPECT_TRUE(Gone(state_ / "hung.pid"));
}

// The image maker's refusal (a label too long, a folder that is not there)
// reaches the caller in its words; in a burn the writer is never started.
TEST_P(BurnerToolsTest, TheImageMakersRefusalIsSaidAndStartsNoWriter) {
  WriteFile(tmp_ / "f.bin", "data");
  const std::vector<GraftPoint> grafts = {{(tmp_ / "f.bin").string(), "/f.bin"}};
  const std::string label(kMaxVolumeLabel + 8, 'L');
  EXPECT_EQ(tools_.StartDataBurn(0, label, grafts, 4, MEDIA_CDR), 1);
  EXPECT_NE(tools_.LastToolError().find("Volume ID string too long"), std::string::npos)
      << tools_.LastToolError();
  EXPECT_EQ(ReadFile(state_ / "calls.log").find("tsize"), std::string::npos);

  const struct {
    std::string label;
    std::string image;
    const char* says;
  } cases[] = {{label, (tmp_ / "x.iso").string(), "Volume ID string too long"},
               {"OK", (tmp_ / "no-such-folder" / "x.iso").string(), "Unable to open disc image file"}};
  for (const auto& c : cases) {
    ASSERT_EQ(tools_.StartImageFile(c.label, grafts, c.image), 0);
    std::vector<int> percents;
    std::string errors;
    EXPECT_NE(PollToEnd(false, &percents, &errors), 0);
    EXPECT_NE(errors.find(c.says), std::string::npos) << errors;
  }
}

INSTANTIATE_TEST_SUITE_P(EachWriter, BurnerToolsTest,
                         ::testing::Values(Persona{"cdrecord", WriterKind::kCdrecord},
                                           Persona{"cdrskin", WriterKind::kCdrskin},
                                           Persona{"wodim", WriterKind::kWodim}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(FitDiscNames, ShortensLongNamesKeepingExtensionsAndUniqueness) {
  const std::string n70(70, 'n'), f70(70, 'f');
  std::string e70;  // 70 two-byte characters
  for (int i = 0; i < 70; ++i) e70 += "\xC3\xA9";
  struct Case {
    const char* what;
    std::vector<std::string> paths;
    std::vector<std::string> burned;
    size_t reported;
  };
  const std::vector<Case> cases = {
      {"short names stay", {"/Music/a.wav", "\\b.wav"}, {"/Music/a.wav", "/b.wav"}, 0},
      {"a long folder is shortened alike in every path",
       {"/" + f70 + "/a.wav", "/" + f70 + "/b.wav"},
       {"/" + f70.substr(0, 64) + "/a.wav", "/" + f70.substr(0, 64) + "/b.wav"},
       1},
      {"a name taken as laid out is not given again",
       {"/" + n70 + ".wav", "/" + std::string(60, 'N') + ".wav"},
       {"/" + std::string(58, 'n') + "~1.wav", "/" + std::string(60, 'N') + ".wav"},
       1},
      {"characters, not bytes", {"/" + e70 + ".wav"}, {"/" + e70.substr(0, 120) + ".wav"}, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<GraftPoint> grafts;
    for (const auto& p : c.paths) grafts.push_back({"/local", p});
    const auto shortened = FitDiscNames(&grafts);
    EXPECT_EQ(shortened.size(), c.reported);
    for (size_t i = 0; i < grafts.size(); ++i) EXPECT_EQ(grafts[i].disc_path, c.burned[i]);
  }
}

TEST(BurnerTools, ToolsBesideTheEnvironmentsChoice) {
  lyr_test::TempDir tmp;
  const std::string bin = LYR_BURN_EMU_BIN;
  ::setenv("LYR_CDRECORD", (bin + "/cdrskin").c_str(), 1);
  ::setenv("LYR_MKISOFS", "genisoimage", 1);
  BurnerTools tools;
  tools.InitBurnerTools();
  EXPECT_EQ(tools.Writer(), WriterKind::kCdrskin);
  EXPECT_EQ(tools.WriterPath(), bin + "/cdrskin");
  EXPECT_EQ(tools.ImageMakerPath(), "/usr/bin/genisoimage");
  ::unsetenv("LYR_CDRECORD");
  ::unsetenv("LYR_MKISOFS");

  // Without a child nothing is collected; a program that is not there does not start.
  int exit_code = 0;
  std::string text;
  EXPECT_EQ(tools.CollectToolOutput(&exit_code, &text, true), 1);
  EXPECT_EQ(tools.StartToolProcess({(tmp / "missing").string()}), 1);
  ASSERT_EQ(tools.StartToolProcess({"/bin/echo", "$(touch x)", "|", ";"}), 0);
  EXPECT_EQ(tools.StartToolProcess({"/bin/true"}), 1);  // one child at a time
  ASSERT_EQ(tools.CollectToolOutput(&exit_code, &text, true), 0);
  EXPECT_EQ(exit_code, 0);
  EXPECT_EQ(text, "$(touch x) | ;\n");
  tools.StopToolProcess();
}

TEST(BurnerTools, PrefersCdrecordThenCdrskinThenWodimByTheirVersionLines) {
  lyr_test::TempDir tmp;
  const std::string emu = std::string(LYR_BURN_EMU_BIN) + "/../lyr-burn-emu";
  auto script = [&](const fs::path& dir, const std::string& name, const std::string& as) {
    fs::create_directories(dir);
    WriteFile(dir / name, "#!/bin/sh\nexec '" + emu + "' --as=" + as + " \"$@\"\n");
    fs::permissions(dir / name, fs::perms::owner_all);
  };
  // As on Debian: "cdrecord" is wodim under another name.
  script(tmp / "debian", "cdrecord", "wodim");
  script(tmp / "debian", "cdrskin", "cdrskin");
  script(tmp / "cdrtools", "cdrecord", "cdrecord");
  script(tmp / "cdrtools", "cdrskin", "cdrskin");
  script(tmp / "cdrtools", "wodim", "wodim");
  script(tmp / "wodim-only", "cdrecord", "wodim");
  const std::string path = ::getenv("PATH");
  struct Case {
    const char* folder;
    WriterKind kind;
    const char* name;
  } cases[] = {{"debian", WriterKind::kCdrskin, "cdrskin"},
               {"cdrtools", WriterKind::kCdrecord, "cdrecord"},
               {"wodim-only", WriterKind::kWodim, "cdrecord"}};
  for (const auto& c : cases) {
    ::setenv("PATH", (tmp / c.folder).c_str(), 1);  // only these writers
    BurnerTools tools;
    tools.InitBurnerTools();
    EXPECT_EQ(tools.Writer(), c.kind) << c.folder;
    EXPECT_EQ(tools.WriterPath(), (tmp / c.folder / c.name).string());
  }
  ::setenv("PATH", path.c_str(), 1);
}

TEST(BurnerTools, AProgressLineSplitBetweenTwoReadsIsStillSeen) {
  lyr_test::TempDir tmp;
  const fs::path writer = tmp / "cdrecord";
  WriteFile(writer,
            "#!/bin/sh\n"
            "if [ \"$1\" = -version ]; then echo 'Cdrecord-ProDVD-ProBD-Clone 3.02a09'; exit 0; fi\n"
            "printf 'Track 01: Total bytes read/wr'; sleep 0.4\n"
            "printf 'itten: 4/4 (1 sectors).\\n'; sleep 0.4\n");
  fs::permissions(writer, fs::perms::owner_all);
  BurnerTools tools;
  tools.UseTools(writer.string(), "");
  ASSERT_EQ(tools.Writer(), WriterKind::kCdrecord);
  ASSERT_EQ(tools.StartAudioBurn(0, {"/a.wav", "/b.wav"}), 0);
  int exit_code = kStillActive, percent = 0;
  std::vector<int> percents;
  std::string errors, error_text;
  while (exit_code == kStillActive) {
    ASSERT_EQ(tools.PollAudioBurn(&exit_code, &percent, &error_text), 0);
    errors += error_text;
    if (percents.empty() || percents.back() != percent) percents.push_back(percent);
    std::this_thread::sleep_for(20ms);
  }
  EXPECT_EQ(percents, (std::vector<int>{0, 50, 100}));
  EXPECT_EQ(errors, "");
}

TEST(OpticalDriveWatcher, ReportsOnlyOpticalDrives) {
  EXPECT_TRUE(IsOpticalDriveName("sr0"));
  EXPECT_TRUE(IsOpticalDriveName("sr12"));
  EXPECT_FALSE(IsOpticalDriveName("sda"));
  EXPECT_FALSE(IsOpticalDriveName("sr"));
  EXPECT_FALSE(IsOpticalDriveName("srx1"));

  lyr_test::TempDir root;
  fs::create_directories(root / "block");
  std::atomic<int> reports{0};
  OpticalDriveWatcher watcher(root.path().string());
  ASSERT_EQ(watcher.Start([&] { ++reports; }), 1);
  WriteFile(root / "block" / "sdb", "");
  std::this_thread::sleep_for(200ms);
  EXPECT_EQ(reports.load(), 0);
  WriteFile(root / "block" / "sr1", "");
  for (int i = 0; i < 200 && reports.load() == 0; ++i) std::this_thread::sleep_for(10ms);
  EXPECT_EQ(reports.load(), 1);
  fs::remove(root / "block" / "sr1");
  for (int i = 0; i < 200 && reports.load() == 1; ++i) std::this_thread::sleep_for(10ms);
  EXPECT_EQ(reports.load(), 2);
  watcher.Stop();
}

}  // namespace
}  // namespace lyr::burn
