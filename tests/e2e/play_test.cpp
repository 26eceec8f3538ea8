// lyrctl play against a served stand-in, heard through SDL's disk audio
// driver: what would have been played is compared with the recording.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <nlohmann/json.hpp>

#include "e2e/e2e_support.h"
#include "emulator/audio_import.h"
#include "support/layer2_decode.h"

namespace {

using lyr_test::ServedRecorder;
using lyr_test::Slurp;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

std::vector<int16_t> Samples(const std::string& bytes) {
  std::vector<int16_t> out(bytes.size() / 2);
  std::memcpy(out.data(), bytes.data(), out.size() * 2);
  return out;
}

std::vector<int16_t> DecodeLayer2(const std::string& bytes) {
  return lyr_test::DecodeLayer2Bytes({reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()});
}

// The frame of `heard` where `reference` starts: the best cross-correlation
// of a window of the reference's first channel, half a second in.
long Align(const std::vector<int16_t>& heard, const std::vector<int16_t>& reference, int channels, int rate) {
  const size_t window = 2048, from = static_cast<size_t>(rate / 2);
  const size_t heard_frames = heard.size() / channels;
  double best = -1;
  long best_shift = -1;
  for (size_t s = 0; s + window < heard_frames; ++s) {
    double dot = 0, energy = 0;
    for (size_t k = 0; k < window; ++k) {
      const double h = heard[(s + k) * channels];
      dot += h * reference[(from + k) * channels];
      energy += h * h;
    }
    const double score = energy > 0 ? dot / std::sqrt(energy) : 0;
    if (score > best) {
      best = score;
      best_shift = static_cast<long>(s);
    }
  }
  return best_shift - static_cast<long>(from);
}

struct Played {
  int exit_code = -1;
  double seconds = 0;
  std::vector<int16_t> heard;
  std::string err;
};

Played Play(ServedRecorder& rec, const std::string& name) {
  const fs::path capture = rec.dir() / "heard.raw";
  const auto start = Clock::now();
  // The disk driver writes each 1024-frame block after a pause of the given
  // milliseconds: 16 plays at about twice real time.
  const lyr_test::RunResult r =
      rec.Lyrctl({"play", name}, {"LYR_AUDIO=sdl", "SDL_AUDIODRIVER=disk", "SDL_DISKAUDIODELAY=16",
                                  "SDL_DISKAUDIOFILE=" + capture.string()});
  Played p;
  p.exit_code = r.exit_code;
  p.err = r.err;
  p.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  p.heard = Samples(Slurp(capture));
  return p;
}

TEST(LyrctlPlay, WhatIsHeardIsTheRecording) {
  LYR_REQUIRE_FUSE();
  ServedRecorder rec;
  ASSERT_TRUE(rec.Start());
  struct Case {
    const char* name;
    uint32_t entry;
    bool mpeg;
    int channels, rate;
    double seconds;
    int tolerance;  // per sample
  };
  // PCM plays byte for byte; Layer II as the decoder makes it.
  const Case cases[] = {{"LYR0006", 6, false, 2, 32000, 5.0, 0}, {"LYR0005", 5, true, 2, 32000, 9.0, 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string data = Slurp(rec.store() / "recordings" / (std::to_string(c.entry) + ".dat"));
    const std::vector<int16_t> reference = c.mpeg ? DecodeLayer2(data) : Samples(data);
    ASSERT_GT(reference.size(), static_cast<size_t>(c.rate * c.channels));
    const Played p = Play(rec, c.name);
    ASSERT_EQ(p.exit_code, 0) << p.err;
    // It ends with the recording, not later.
    EXPECT_LT(p.seconds, c.seconds + 4.0);
    const long shift = Align(p.heard, reference, c.channels, c.rate);
    ASSERT_GE(shift, 0);
    ASSERT_LE(static_cast<size_t>(shift) * c.channels + reference.size(), p.heard.size())
        << "the whole recording is heard";
    size_t wrong = 0;
    for (size_t i = 0; i < reference.size(); ++i)
      if (std::abs(p.heard[shift * c.channels + i] - reference[i]) > c.tolerance) ++wrong;
    EXPECT_EQ(wrong, 0u) << "of " << reference.size() << " samples";
  }
}

TEST(LyrctlPlay, RecorderGoneMidwayEndsPlaybackWithAMessage) {
  LYR_REQUIRE_FUSE();
  ServedRecorder rec;
  ASSERT_TRUE(rec.Start());
  const fs::path out = rec.dir() / "play.out", err = rec.dir() / "play.err";
  const pid_t pid = lyr_test::Spawn({lyr_test::LyrctlPath(), "--device", rec.disk(), "play", "LYR0002"}, out,
                                    err, {"LYR_AUDIO=null"});
  ASSERT_GT(pid, 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  ASSERT_EQ(lyr_test::WaitExitWithin(pid, std::chrono::milliseconds(0)), -1) << Slurp(err);
  rec.KillServer();
  const auto killed = Clock::now();
  const int code = lyr_test::WaitExitWithin(pid, std::chrono::seconds(5));
  if (code < 0) lyr_test::Kill(pid);
  EXPECT_GT(code, 0);
  EXPECT_LT(Clock::now() - killed, std::chrono::milliseconds(1500));
  EXPECT_NE(Slurp(err).find("playback of LYR0002 stopped"), std::string::npos) << Slurp(err);
}

// A name from the recorder is shown escaped in the live line and in every
// message; --json ends with the result; a start past the end is refused.
TEST(LyrctlPlay, TheNameIsShownEscapedAndJsonGivesTheResult) {
  LYR_REQUIRE_FUSE();
  ServedRecorder rec(false);
  const fs::path wav = rec.dir() / "tone.wav";
  const std::vector<int16_t> pcm(48000, 1000);  // half a second of stereo
  ASSERT_TRUE(lyr_emu::WritePcmWaveFile(pcm.data(), 24000, 2, 48000, wav));
  const std::string name = "\x1b]0;pwn\x07";
  ASSERT_EQ(lyr_test::Run({lyr_test::LyrEmuPath(), "add", rec.store().string(), wav.string(), "--name", name})
                .exit_code,
            0);
  ASSERT_TRUE(rec.Start());
  const std::vector<std::string> null_audio = {"LYR_AUDIO=null"};

  // The live line is drawn on a terminal only.
  const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(master, 0);
  ASSERT_EQ(::grantpt(master), 0);
  ASSERT_EQ(::unlockpt(master), 0);
  const pid_t pid = lyr_test::Spawn({lyr_test::LyrctlPath(), "--device", rec.disk(), "play", "entry:1"},
                                    ::ptsname(master), rec.dir() / "play.err", null_audio);
  ASSERT_GT(pid, 0);
  const int code = lyr_test::WaitExitWithin(pid, std::chrono::seconds(10));
  if (code < 0) lyr_test::Kill(pid);
  EXPECT_EQ(code, 0) << Slurp(rec.dir() / "play.err");
  ::fcntl(master, F_SETFL, O_NONBLOCK);
  std::string shown;
  char buf[4096];
  for (ssize_t n; (n = ::read(master, buf, sizeof buf)) > 0;) shown.append(buf, static_cast<size_t>(n));
  ::close(master);
  EXPECT_NE(shown.find("\\x1b]0;pwn\\x07"), std::string::npos) << shown;
  EXPECT_EQ(shown.find("\x1b]0;"), std::string::npos) << "the name reached the terminal raw";

  const lyr_test::RunResult json_run = rec.Lyrctl({"--json", "play", "entry:1"}, null_audio);
  ASSERT_EQ(json_run.exit_code, 0) << json_run.err;
  const nlohmann::json result = nlohmann::json::parse(json_run.out);
  EXPECT_EQ(result["name"], name);
  EXPECT_EQ(result["ended"], "end");
  EXPECT_TRUE(result["complete"].get<bool>());

  const lyr_test::RunResult late = rec.Lyrctl({"play", "entry:1", "--start", "99"}, null_audio);
  EXPECT_EQ(late.exit_code, 2);
  EXPECT_NE(late.err.find("past the end"), std::string::npos) << late.err;
  EXPECT_EQ(late.err.find("\x1b]0;"), std::string::npos) << late.err;
}

}  // namespace
