#include "burn/burn_jobs.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <cmath>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "burn/sample_rate_converter.h"
#include "core/playback/twolame_encoder.h"
#include "core/transfer/test_reporter.h"
#include "platform/byte_order.h"
#include "support/emulated_recorder.h"
#include "transfer/sha1.h"
#include "transfer/transfer_jobs.h"

namespace {

namespace fs = std::filesystem;
using lyr::burn::BurnJobResult;
using lyr::burn::GraftPoint;
using lyr::burn::kToolStillActive;

std::vector<uint8_t> ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The "Burning" window of a test: everything the job shows, in order.
class Window final : public lyr::burn::BurnReporter {
 public:
  void SetStatus(const std::string& text) override { Log("status " + text); }
  void SetProgress(int percent) override { Log("progress " + std::to_string(percent)); }
  void Message(const std::string& text, const std::string& caption, lyr::MessageIcon icon) override {
    // The success box is information; every other box a warning.
    EXPECT_EQ(icon, caption == "Information" ? lyr::MessageIcon::Information : lyr::MessageIcon::Warning);
    Log("message " + caption + ": " + text);
  }
  bool CancelRequested() const override { return cancel; }
  void ClearLog() override { Log("clear log"); }
  void AppendLog(const std::string& text) override { Log("log " + text); }
  void Finished(int result) override { Log("finished " + std::to_string(result)); }

  std::vector<std::string> Events(const std::string& prefix) const {
    std::vector<std::string> out;
    for (const auto& e : events)
      if (e.rfind(prefix, 0) == 0) out.push_back(e);
    return out;
  }
  std::vector<std::string> events;
  bool cancel = false;
  std::function<void(const std::string&)> on_event;

 private:
  void Log(const std::string& e) {
    events.push_back(e);
    if (on_event) on_event(e);
  }
};

std::string Address(uint32_t device) {
  return std::to_string(device >> 16) + "," + std::to_string((device >> 8) & 0xFF) + "," +
         std::to_string(device & 0xFF);
}

// A tool runner that plays a script: the burn starts (or not), then each poll
// gives the next step; the last step repeats. Files handed to it are copied
// when the burn starts, as a writer reads them.
class ScriptedRunner final : public lyr::burn::BurnRunner {
 public:
  struct Step {
    int result = 0;
    int exit_code = kToolStillActive;
    int percent = 0;
    std::string errors;
  };
  int start_result = 0;
  std::string start_error;  // what a failed start says
  std::vector<Step> steps{{0, 0, 100, ""}};
  bool hang_until_interrupted = false;

  std::vector<std::string> calls;
  std::vector<std::vector<uint8_t>> tracks;
  std::map<std::string, std::vector<uint8_t>> disc;  // disc path -> bytes
  std::vector<GraftPoint> grafts;
  std::string label, image;

  int StartAudioBurn(uint32_t device, const std::vector<std::string>& waves) override {
    calls.push_back("audio " + Address(device) + " " + std::to_string(waves.size()));
    for (const auto& w : waves) tracks.push_back(ReadFile(w));
    return start_result;
  }
  int StartDataBurn(uint32_t device, const std::string& volume_label, const std::vector<GraftPoint>& g,
                    uint64_t total_bytes, uint32_t media_kind) override {
    calls.push_back("data " + Address(device) + " " + std::to_string(total_bytes) + " " +
                    std::to_string(media_kind));
    Take(volume_label, g);
    return start_result;
  }
  int StartImageFile(const std::string& volume_label, const std::vector<GraftPoint>& g,
                     const std::string& image_path) override {
    calls.push_back("image " + image_path);
    Take(volume_label, g);
    std::ofstream(image_path, std::ios::binary | std::ios::trunc) << "new image";  // as the maker writes it
    return start_result;
  }
  int PollDataBurn(int* exit_code, int* percent, std::string* errors) override {
    return Poll(exit_code, percent, errors);
  }
  int PollAudioBurn(int* exit_code, int* percent, std::string* errors) override {
    return Poll(exit_code, percent, errors);
  }
  void InterruptToolProcess() override {
    calls.push_back("interrupt");
    interrupted_ = true;
  }
  void StopToolProcess() override { calls.push_back("stop"); }
  std::string StartErrorText() const override { return start_error; }

 private:
  void Take(const std::string& volume_label, const std::vector<GraftPoint>& g) {
    label = volume_label;
    grafts = g;
    for (const auto& p : g) disc[p.disc_path] = ReadFile(p.local_path);
  }
  int Poll(int* exit_code, int* percent, std::string* errors) {
    errors->clear();
    if (hang_until_interrupted) {
      *exit_code = interrupted_ ? 130 : kToolStillActive;
      return 0;
    }
    const Step& s = steps[std::min(next_, steps.size() - 1)];
    ++next_;
    *exit_code = s.exit_code;
    *percent = s.percent;
    *errors = s.errors;
    return s.result;
  }
  size_t next_ = 0;
  bool interrupted_ = false;
};

struct Wave {
  uint16_t channels = 0, bits = 0;
  uint32_t rate = 0, data_size = 0;
  std::vector<int16_t> samples;
};

Wave ParseCdWave(const std::vector<uint8_t>& bytes) {
  Wave w;
  if (bytes.size() < 44) return w;
  auto u32 = [&](size_t at) { return lyr::GetU32(bytes.data() + at); };
  auto u16 = [&](size_t at) { return lyr::GetU16(bytes.data() + at); };
  EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 4), "RIFF");
  EXPECT_EQ(u32(4), bytes.size() - 8);
  w.channels = u16(22);
  w.rate = u32(24);
  w.bits = u16(34);
  w.data_size = u32(40);
  EXPECT_EQ(w.data_size, bytes.size() - 44);
  w.samples.resize((bytes.size() - 44) / 2);
  std::memcpy(w.samples.data(), bytes.data() + 44, w.samples.size() * 2);
  return w;
}

std::vector<int16_t> Sine(size_t frames, int channels, double rate, double hz, double amplitude = 12000) {
  std::vector<int16_t> v;
  for (size_t i = 0; i < frames; ++i)
    for (int c = 0; c < channels; ++c)
      v.push_back(static_cast<int16_t>(std::lround(amplitude * std::sin(2 * M_PI * hz * i / rate + c))));
  return v;
}

std::vector<uint8_t> Bytes(const std::vector<int16_t>& s) {
  std::vector<uint8_t> b(s.size() * 2);
  std::memcpy(b.data(), s.data(), b.size());
  return b;
}

// A stand-in recorder, a temporary folder, a scripted runner and a window.
struct Rig {
  Rig() {
    temp_ = recorder_.dir().path() / "burn-temp";
    fs::create_directory(temp_);
  }

  uint32_t Add(uint32_t rate, uint16_t bits, uint16_t channels, uint32_t codec, const std::string& name,
               const std::vector<uint8_t>& data, uint32_t bit_rate = 0) {
    std::tm date{};
    lyr_emu::ParseDateTime("2011-08-19T10:20:36", &date);
    auto record = lyr_emu::MakeRecordingRecord(rate, bit_rate != 0 ? bit_rate : rate * channels * bits, bits,
                                               channels, codec, date, name, "note");
    return recorder_.AddRecording(record, data);
  }
  uint32_t AddMpeg(const std::string& name, size_t frames, int rate = 48000) {
    lyr::test::EncoderSettings settings;
    settings.sample_rate = rate;
    const auto stream = lyr::test::EncodeLayer2(Sine(frames, 2, rate, 997), settings);
    return Add(rate, 16, 2, lyr::protocol::kCodecMpegLayer2, name, stream, 192000);
  }
  bool Copied(uint32_t entry) { return recorder_.store().Find(entry)->copied; }
  size_t TempFiles() const {
    size_t n = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator(temp_)) ++n;
    return n;
  }
  BurnJobResult BurnAudio(std::initializer_list<uint32_t> entries,
                          lyr::burn::CdConverter converter = lyr::burn::CdConverter::Soxr) {
    if (!link_) link_ = recorder_.MakeLink();
    lyr::burn::AudioCdJob job;
    job.converter = converter;
    job.temp_folder = temp_.string();
    job.device = 0x00010200;
    for (uint32_t e : entries) {
      lyr::burn::BURN_FILE f;
      f.entry = e;
      job.items.push_back(f);
    }
    return lyr::burn::RunAudioCdJob(*link_, runner_, job, window_);
  }
  BurnJobResult BurnData(const std::vector<std::pair<uint32_t, std::string>>& files, bool sha1,
                         lyr::ExportFormat mpeg, lyr::ExportFormat pcm) {
    if (!link_) link_ = recorder_.MakeLink();
    lyr::burn::DataDiscJob job;
    job.temp_folder = temp_.string();
    job.volume_label = "ARCHIVE";
    job.device = 0x00010200;
    job.disc_kind = lyr::burn::MEDIA_CDR;
    job.output_sha1 = sha1;
    job.mpeg_format = mpeg;
    job.pcm_format = pcm;
    job.device_id = "LYR0000001";
    for (const auto& [e, p] : files) {
      lyr::burn::BURN_FILE f;
      f.entry = e;
      f.disc_path = p;
      job.files.push_back(f);
    }
    return lyr::burn::RunDataDiscJob(*link_, runner_, job, window_);
  }

  lyr_test::EmulatedRecorder recorder_;
  std::unique_ptr<lyr::RecorderLink> link_;
  fs::path temp_;
  ScriptedRunner runner_;
  Window window_;
};

class BurnJobsTest : public ::testing::Test, public Rig {};

TEST_F(BurnJobsTest, AudioCdTracksAreWholeCdAudioOfEveryKindOfRecording) {
  // 48 kHz Layer II, 44.1 kHz stereo PCM, 32 kHz mono PCM, 48 kHz 24-bit
  // PCM; lengths chosen so that every recording ends in a part batch.
  const auto pcm441 = Sine(44100 + 333, 2, 44100, 440);
  const auto mono32 = Sine(32000 + 77, 1, 32000, 1000);
  std::vector<uint8_t> deep;  // 24-bit stereo: the top 16 bits carry the sine
  const auto sine48 = Sine(9000 + 5, 2, 48000, 500);
  for (int16_t s : sine48) {
    deep.push_back(0x5A);
    deep.push_back(static_cast<uint8_t>(s & 0xFF));
    deep.push_back(static_cast<uint8_t>((s >> 8) & 0xFF));
  }
  const uint32_t mp2 = AddMpeg("MP2", 48000);
  const uint32_t cd = Add(44100, 16, 2, lyr::protocol::kCodecLinearPcm, "CD", Bytes(pcm441));
  const uint32_t mono = Add(32000, 16, 1, lyr::protocol::kCodecLinearPcm, "MONO", Bytes(mono32));
  const uint32_t d24 = Add(48000, 24, 2, lyr::protocol::kCodecLinearPcm, "DEEP", deep);

  const BurnJobResult r = BurnAudio({mp2, cd, mono, cd, d24}, lyr::burn::CdConverter::WindowedSinc);
  EXPECT_EQ(r.result, 1);
  EXPECT_TRUE(r.burned);
  EXPECT_EQ(runner_.calls.front(), "audio 1,2,0 5");
  ASSERT_EQ(runner_.tracks.size(), 5u);
  std::vector<Wave> w;
  for (const auto& t : runner_.tracks) {
    w.push_back(ParseCdWave(t));
    EXPECT_EQ(w.back().rate, 44100u);
    EXPECT_EQ(w.back().channels, 2);
    EXPECT_EQ(w.back().bits, 16);
  }
  // Decoded 48,000 frames (twolame pads the last frame) at 44.1 kHz.
  EXPECT_NEAR(w[0].samples.size() / 2.0, 48384 * 44100.0 / 48000, 1.0);
  // 44.1 kHz PCM goes through unchanged, its last frames included.
  EXPECT_EQ(w[1].samples, pcm441);
  EXPECT_EQ(runner_.tracks[3], runner_.tracks[1]);  // one download, two tracks
  // Mono doubled, then converted; the track lasts as long as the recording.
  EXPECT_EQ(w[2].samples.size() / 2, (32000u + 77) * 44100 / 32000);
  lyr::burn::CSampleRateConverter conv;
  conv.Setup(32000, 44100);
  std::vector<int16_t> doubled;
  for (int16_t s : mono32) doubled.insert(doubled.end(), {s, s});
  std::vector<int16_t> ref(doubled.size() * 2);
  uint32_t used = 0;
  const uint32_t made =
      conv.Convert(ref.data(), doubled.data(), static_cast<uint32_t>(doubled.size() / 2), 44000, &used);
  ASSERT_GT(made, 40000u);
  for (uint32_t j = 0; j < made; ++j) {
    ASSERT_EQ(w[2].samples[2 * j], ref[2 * j]) << j;
    ASSERT_EQ(w[2].samples[2 * j + 1], ref[2 * j]) << j;
  }
  // 24-bit: the top 16 bits, converted from 48 kHz.
  EXPECT_EQ(w[4].samples.size() / 2, 9005u * 44100 / 48000);
  double err = 0;
  for (size_t j = 100; j + 100 < w[4].samples.size() / 2; ++j)
    err = std::max(err, std::fabs(w[4].samples[2 * j] - 12000 * std::sin(2 * M_PI * 500 * j / 44100.0)));
  EXPECT_LT(err, 40);

  EXPECT_EQ(window_.Events("log"),
            (std::vector<std::string>{"log Downloading files from LYR...", "log Succeeded\r\n",
                                      "log Burning ...\r\n", "log Burning Succeeded!\r\n"}));
  EXPECT_EQ(window_.Events("message"),
            (std::vector<std::string>{"message Information: Burned successfully!"}));
  EXPECT_EQ(window_.Events("finished"), (std::vector<std::string>{"finished 1"}));
  EXPECT_TRUE(Copied(mp2) && Copied(cd) && Copied(mono) && Copied(d24));
  EXPECT_EQ(TempFiles(), 0u);
}

// Whichever converter: a track lasts floor(frames x 44,100 / rate) frames and
// carries the recording's sound from its first frame to its last.
TEST(AudioCdTracks, LengthAndSoundWithEitherConverter) {
  const struct {
    uint32_t rate;
    uint16_t channels;
    size_t frames;
  } recordings[] = {
      {48000, 2, 9005}, {32000, 1, 32077}, {96000, 2, 20001}, {22050, 2, 11025 + 7}, {8000, 1, 8001}};
  for (const auto converter : {lyr::burn::CdConverter::Soxr, lyr::burn::CdConverter::WindowedSinc}) {
    Rig t;
    std::vector<uint32_t> entries;
    for (const auto& r : recordings)
      entries.push_back(t.Add(r.rate, 16, r.channels, lyr::protocol::kCodecLinearPcm, "PCM",
                              Bytes(Sine(r.frames, r.channels, r.rate, 500, 12000))));
    const uint32_t mp2 = t.AddMpeg("MP2", 48000);
    if (!t.link_) t.link_ = t.recorder_.MakeLink();
    lyr::burn::AudioCdJob job;
    job.temp_folder = t.temp_.string();
    job.converter = converter;
    entries.push_back(mp2);
    for (uint32_t e : entries) {
      lyr::burn::BURN_FILE f;
      f.entry = e;
      job.items.push_back(f);
    }
    ASSERT_TRUE(lyr::burn::RunAudioCdJob(*t.link_, t.runner_, job, t.window_).burned);
    ASSERT_EQ(t.runner_.tracks.size(), std::size(recordings) + 1);
    const char* name = converter == lyr::burn::CdConverter::Soxr ? "soxr" : "sinc";
    for (size_t i = 0; i < std::size(recordings); ++i) {
      const auto& r = recordings[i];
      const Wave w = ParseCdWave(t.runner_.tracks[i]);
      EXPECT_EQ(w.samples.size() / 2, r.frames * 44100 / r.rate) << name << " " << r.rate;
      // The same sine at 44.1 kHz, away from the ends where filters ring.
      double err = 0;
      for (size_t j = 300; j + 300 < w.samples.size() / 2; ++j)
        err = std::max(err, std::fabs(w.samples[2 * j] - 12000 * std::sin(2 * M_PI * 500 * j / 44100.0)));
      EXPECT_LT(err, 40) << name << " " << r.rate;
    }
    // Layer II: the decoded frames (twolame pads the last frame).
    EXPECT_EQ(ParseCdWave(t.runner_.tracks.back()).samples.size() / 2, 48384u * 44100 / 48000) << name;
  }
}

TEST_F(BurnJobsTest, BurnProgressAndTemporaryNamesAfterTakenOnes) {
  const uint32_t a = recorder_.AddPcm("TAKE", 20000, 44100);
  std::ofstream(temp_ / "TAKE_0.wav") << "someone else's";
  runner_.steps = {{0, kToolStillActive, 25, ""},
                   {0, kToolStillActive, 50, ""},
                   {0, kToolStillActive, 75, ""},
                   {0, 0, 100, ""}};
  std::vector<std::string> names;
  window_.on_event = [&](const std::string& e) {
    if (e == "log Succeeded\r\n")
      for (const auto& f : fs::directory_iterator(temp_)) names.push_back(f.path().filename().string());
  };
  BurnAudio({a});
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"TAKE_0.wav", "TAKE_1.wav"}));
  const auto statuses = window_.Events("status Burning");
  EXPECT_EQ(statuses, (std::vector<std::string>{"status Burning...      25%", "status Burning...      50%",
                                                "status Burning...      75%"}));
  EXPECT_EQ(ReadFile(temp_ / "TAKE_0.wav").size(), 14u);  // left alone
  EXPECT_EQ(TempFiles(), 1u);
}

TEST_F(BurnJobsTest, EveryFailureEndsOnceWithItsTextsNoFileLeftAndNothingMarked) {
  struct Case {
    const char* what;
    std::function<void(Rig&)> arrange;
    std::vector<std::string> logs;  // after "Downloading files from LYR..."
    std::string message;
    int result;
    std::string errors = {};  // what the result says the tools said
  };
  const std::vector<Case> cases = {
      {"record unreadable",
       [](Rig& t) { t.recorder_.config().disconnect_after = t.recorder_.emulator().stats().commands; },
       {},
       "",
       0},
      {"temporary folder missing",
       [](Rig& t) { fs::remove(t.temp_); },
       {},
       "Error: Create temporary file failed!",
       0},
      {"read fails midway",
       [](Rig& t) { t.recorder_.config().read_fail_offset = 70000; },
       {"Failed\r\n"},
       "Error: Read data from LYR error!",
       0},
      {"burn cannot start",
       [](Rig& t) { t.runner_.start_result = 1; },
       {"Succeeded\r\n", "Burning ...\r\n", "Burning failed...\r\n"},
       "Error: Burning failed!",
       1},
      {"burn cannot start, and the tool said why",
       [](Rig& t) {
         t.runner_.start_result = 1;
         t.runner_.start_error = "No such file or directory. Cannot open SCSI driver!";
       },
       {"Succeeded\r\n", "Burning ...\r\n", "No such file or directory. Cannot open SCSI driver!\r\n",
        "Burning failed...\r\n"},
       "Error: Burning failed!",
       1,
       "No such file or directory. Cannot open SCSI driver!"},
      {"error lines",
       [](Rig& t) {
         t.runner_.steps = {{0, kToolStillActive, 100, " write failed\r\n second line\r\n"}, {0, 0, 100, ""}};
       },
       {"Succeeded\r\n", "Burning ...\r\n", " write failed\r\n second line\r\n", "Burning failed...\r\n"},
       "Error: Burning failed!",
       1,
       "write failed; second line"},
      {"poll fails",
       [](Rig& t) {
         t.runner_.steps = {{1, kToolStillActive, 0, ""}};
       },
       {"Succeeded\r\n", "Burning ...\r\n", "Burning failed...\r\n"},
       "Error: Burning failed!",
       1},
      {"tool ends with a failing status",
       [](Rig& t) {
         t.runner_.steps = {{0, 255, 100, ""}};
       },
       {"Succeeded\r\n", "Burning ...\r\n", "Burning failed...\r\n"},
       "Error: Burning failed!",
       1},
      {"copied mark fails after the burn",
       [](Rig& t) {
         t.window_.on_event = [&t](const std::string& e) {
           if (e == "log Burning ...\r\n") t.recorder_.config().disconnect_after = 1;
         };
       },
       {"Succeeded\r\n", "Burning ...\r\n", "Failed\r\n"},
       "Error: Access LYR Failed!",
       0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Rig t;
    const uint32_t a = t.recorder_.AddPcm("A", 150000, 48000);
    t.link_ = t.recorder_.MakeLink();
    c.arrange(t);
    const BurnJobResult r = t.BurnAudio({a});
    EXPECT_EQ(r.result, c.result);
    EXPECT_FALSE(r.burned);
    EXPECT_EQ(r.errors, c.errors);
    std::vector<std::string> logs{"log Downloading files from LYR..."};
    for (const auto& l : c.logs) logs.push_back("log " + l);
    EXPECT_EQ(t.window_.Events("log"), logs);
    EXPECT_EQ(t.window_.Events("message"), c.message.empty()
                                               ? std::vector<std::string>{}
                                               : std::vector<std::string>{"message " + c.message});
    EXPECT_EQ(t.window_.Events("finished"),
              (std::vector<std::string>{"finished " + std::to_string(c.result)}));
    if (fs::exists(t.temp_)) {
      EXPECT_EQ(t.TempFiles(), 0u);
    }
    t.recorder_.config().disconnect_after = 0;
    EXPECT_FALSE(t.Copied(a));
  }
}

TEST_F(BurnJobsTest, FullTemporaryFolderEndsWithCopyErrorAndNoHalfFile) {
  const uint32_t a = recorder_.AddPcm("A", 400000, 48000);
  rlimit old{};
  getrlimit(RLIMIT_FSIZE, &old);
  auto old_handler = std::signal(SIGXFSZ, SIG_IGN);
  rlimit small = old;
  small.rlim_cur = 100000;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  const BurnJobResult r = BurnAudio({a});
  setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, old_handler);
  EXPECT_EQ(r.result, 0);
  EXPECT_EQ(window_.Events("message"), (std::vector<std::string>{"message Error: Copy error!"}));
  EXPECT_EQ(window_.Events("log").back(), "log Failed\r\n");
  EXPECT_EQ(TempFiles(), 0u);
  EXPECT_TRUE(runner_.calls.empty());
  EXPECT_FALSE(Copied(a));
}

TEST_F(BurnJobsTest, CancelDuringDownloadOrBurnIsAUserAbort) {
  for (const bool during_burn : {false, true}) {
    SCOPED_TRACE(during_burn);
    Rig t;
    const uint32_t a = t.recorder_.AddPcm("A", 300000, 48000);
    const uint32_t b = t.recorder_.AddPcm("B", 300000, 48000);
    if (during_burn) t.runner_.hang_until_interrupted = true;
    t.window_.on_event = [&](const std::string& e) {
      if (!during_burn && e == "progress 10") t.window_.cancel = true;
      if (during_burn && e.rfind("status Burning...", 0) == 0) t.window_.cancel = true;
    };
    const BurnJobResult r = t.BurnAudio({a, b});
    EXPECT_EQ(r.result, 0);
    EXPECT_EQ(t.window_.Events("log").back(), "log User abort!\r\n");
    EXPECT_EQ(t.window_.Events("message"), (std::vector<std::string>{"message Warning: User Abort!"}));
    EXPECT_EQ(t.window_.Events("finished"), (std::vector<std::string>{"finished 0"}));
    EXPECT_EQ(t.runner_.calls, during_burn ? (std::vector<std::string>{"audio 1,2,0 2", "interrupt", "stop"})
                                           : (std::vector<std::string>{"interrupt", "stop"}));
    EXPECT_EQ(t.TempFiles(), 0u);
    EXPECT_FALSE(t.Copied(a) || t.Copied(b));
  }
}

TEST_F(BurnJobsTest, DataDiscFilesAreTheExportsWithADigestBesideEveryPlace) {
  const uint32_t pcm = recorder_.AddPcm("PCM1", 150000, 48000);
  const uint32_t mp2 = AddMpeg("MPG1", 20000);
  lyr::CopyOptions copy;
  copy.device_id = "LYR0000001";
  copy.output_sha1 = true;
  for (const auto format : {lyr::ExportFormat::Wave, lyr::ExportFormat::Bwf, lyr::ExportFormat::Raw}) {
    SCOPED_TRACE(static_cast<int>(format));
    Rig t;
    const uint32_t p = t.recorder_.AddPcm("PCM1", 150000, 48000, 2, pcm);
    const auto mpeg_data = recorder_.DataOf(mp2);
    std::tm date{};
    lyr_emu::ParseDateTime("2011-08-19T10:20:36", &date);
    const uint32_t m = t.recorder_.AddRecording(
        lyr_emu::MakeRecordingRecord(48000, 192000, 16, 2, lyr::protocol::kCodecMpegLayer2, date, "MPG1",
                                     "note"),
        mpeg_data, mp2);
    const lyr::ExportFormat pcm_format = format == lyr::ExportFormat::Raw ? lyr::ExportFormat::Wave : format;
    const BurnJobResult r =
        t.BurnData({{p, "/PCM1"}, {m, "/A/MPG1"}, {m, "/B/again"}}, true, format, pcm_format);
    ASSERT_EQ(r.result, 1);
    EXPECT_TRUE(r.burned);

    // The same recordings through the copy job.
    const fs::path out = t.recorder_.dir().path() / "export";
    fs::create_directory(out);
    copy.folder = out.string();
    copy.mpeg_format = format;
    copy.pcm_format = pcm_format;
    lyr::JobQueue queue;
    queue.entries = {p, m};
    lyr_test::TestReporter reporter;
    auto link = t.recorder_.MakeLink();
    ASSERT_TRUE(lyr::CopyJob(*link, queue, copy, reporter));
    const std::string ext = format == lyr::ExportFormat::Raw ? ".mp2" : ".wav";
    std::map<std::string, std::vector<uint8_t>> expected = {
        {"/PCM1.wav", ReadFile(out / "PCM1.wav")},          {"/PCM1.txt", ReadFile(out / "PCM1.txt")},
        {"/A/MPG1" + ext, ReadFile(out / ("MPG1" + ext))},  {"/A/MPG1.txt", ReadFile(out / "MPG1.txt")},
        {"/B/again" + ext, ReadFile(out / ("MPG1" + ext))}, {"/B/again.txt", ReadFile(out / "MPG1.txt")},
    };
    EXPECT_EQ(t.runner_.disc, expected);
    EXPECT_EQ(t.runner_.label, "ARCHIVE");
    uint64_t total = 0;
    for (const auto& [path, bytes] : expected)
      if (path.rfind("/B/", 0) != 0) total += bytes.size();
    EXPECT_EQ(t.runner_.calls.front(), "data 1,2,0 " + std::to_string(total) + " 2");
    EXPECT_EQ(t.TempFiles(), 0u);
    EXPECT_TRUE(t.Copied(p) && t.Copied(m));
  }
}

// The image is written beside its name and takes the name only once the
// maker ended well: a failed or cancelled image leaves the file that was
// there as it was, and nothing beside it.
TEST_F(BurnJobsTest, ImageFileTakesItsNameOnlyWhenComplete) {
  const struct {
    const char* what;
    std::vector<ScriptedRunner::Step> steps;
    bool cancel;
    bool burned;
  } cases[] = {
      {"complete", {{0, 0, 100, ""}}, false, true},
      {"maker fails (disk full)", {{0, 1, 100, " No space left on device\r\n"}}, false, false},
      {"cancelled", {{0, kToolStillActive, 40, ""}}, true, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Rig t;
    const uint32_t a = t.recorder_.AddPcm("A", 1000, 48000);
    t.link_ = t.recorder_.MakeLink();
    t.runner_.steps = c.steps;
    if (c.cancel)
      t.window_.on_event = [&t](const std::string& e) {
        if (e.rfind("status Burning...", 0) == 0) t.window_.cancel = true;
      };
    const fs::path image = t.recorder_.dir().path() / "disc.iso";
    std::ofstream(image) << "old image";
    lyr::burn::DataDiscJob job;
    job.temp_folder = t.temp_.string();
    job.image_path = image.string();
    lyr::burn::BURN_FILE f;
    f.entry = a;
    f.disc_path = "/A";
    job.files = {f};
    const BurnJobResult r = lyr::burn::RunDataDiscJob(*t.link_, t.runner_, job, t.window_);
    EXPECT_EQ(r.burned, c.burned);
    ASSERT_FALSE(t.runner_.calls.empty());
    EXPECT_EQ(t.runner_.calls.front(), "image " + image.string() + ".partial");
    ASSERT_EQ(t.runner_.disc.size(), 1u);
    EXPECT_EQ(t.runner_.disc.begin()->first, "/A.wav");
    EXPECT_EQ(t.runner_.disc.begin()->second.size(), 724u + 1000);
    const std::vector<uint8_t> bytes = ReadFile(image);
    const std::string kept(bytes.begin(), bytes.end());
    EXPECT_EQ(kept, c.burned ? "new image" : "old image");
    EXPECT_FALSE(fs::exists(image.string() + ".partial"));
    EXPECT_EQ(t.Copied(a), c.burned);
  }
}

// A label the image maker refuses ends the job before anything is read from
// the recorder or any tool runs.
TEST_F(BurnJobsTest, DataDiscLabelTooLongEndsBeforeTheDownload) {
  const uint32_t a = recorder_.AddPcm("A", 1000, 48000);
  link_ = recorder_.MakeLink();
  lyr::burn::DataDiscJob job;
  job.temp_folder = temp_.string();
  job.volume_label = std::string(lyr::burn::kMaxVolumeLabel + 1, 'L');
  lyr::burn::BURN_FILE f;
  f.entry = a;
  f.disc_path = "/A";
  job.files = {f};
  const uint64_t commands = recorder_.emulator().stats().commands;
  const BurnJobResult r = lyr::burn::RunDataDiscJob(*link_, runner_, job, window_);
  EXPECT_EQ(r.result, 0);
  EXPECT_EQ(window_.Events("message"),
            (std::vector<std::string>{"message Error: The volume label is longer than 32 characters."}));
  EXPECT_EQ(window_.Events("finished"), (std::vector<std::string>{"finished 0"}));
  EXPECT_EQ(recorder_.emulator().stats().commands, commands);
  EXPECT_TRUE(runner_.calls.empty());
  EXPECT_EQ(TempFiles(), 0u);
  job.volume_label.pop_back();  // 32 is taken
  EXPECT_TRUE(lyr::burn::RunDataDiscJob(*link_, runner_, job, window_).burned);
}

// Names longer than the disc takes reach the maker shortened, extension and
// uniqueness kept, digest beside its file, and the job says so.
TEST_F(BurnJobsTest, DataDiscLongNamesAreShortenedAndReported) {
  const uint32_t a = recorder_.AddPcm("A", 1000, 48000);
  const uint32_t b = recorder_.AddPcm("B", 1000, 48000);
  const std::string long_name(70, 'n');
  const BurnJobResult r = BurnData({{a, "/" + long_name + "1"}, {b, "/" + long_name + "2"}}, true,
                                   lyr::ExportFormat::Bwf, lyr::ExportFormat::Bwf);
  EXPECT_TRUE(r.burned);
  const std::string cut(64 - 4, 'n');
  const std::vector<std::string> paths = {"/" + cut + ".txt", "/" + cut + ".wav",
                                          "/" + cut.substr(2) + "~1.txt", "/" + cut.substr(2) + "~1.wav"};
  std::vector<std::string> got;
  for (const auto& [path, bytes] : runner_.disc) got.push_back(path);
  EXPECT_EQ(got, paths);
  ASSERT_EQ(r.shortened.size(), 4u);
  EXPECT_EQ(r.shortened[0].from, "/" + long_name + "1.wav");
  EXPECT_EQ(r.shortened[0].to, "/" + cut + ".wav");
  EXPECT_EQ(window_.Events("log Name shortened").size(), 4u);
}

// A record's channel and sample counts come from the recorder: a damaged
// one ends the audio CD job with the read error before any buffer is sized
// by it.
TEST_F(BurnJobsTest, DamagedRecordCountsEndTheAudioCdJob) {
  const struct {
    uint32_t rate;
    uint16_t bits, channels;
  } cases[] = {{48000, 16, 2000}, {48000, 16, 65535}, {48000, 65535, 2},
               {48000, 16, 0},    {1, 16, 2},         {0, 16, 2}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.rate) + " Hz, " + std::to_string(c.bits) + " bits, " +
                 std::to_string(c.channels) + " channels");
    Rig t;
    const uint32_t e = t.Add(c.rate, c.bits, c.channels, lyr::protocol::kCodecLinearPcm, "BAD",
                             lyr_test::EmulatedRecorder::Pattern(300000, 7), 1536000);
    const BurnJobResult r = t.BurnAudio({e});
    EXPECT_EQ(r.result, 0);
    EXPECT_EQ(t.window_.Events("message"),
              (std::vector<std::string>{"message Error: Read data from LYR error!"}));
    EXPECT_TRUE(t.runner_.calls.empty());
    EXPECT_EQ(t.TempFiles(), 0u);
  }
}

// The export failures of a data disc end the job with the disc job's own
// texts, and nothing of the export stays in the temporary folder: neither a
// .partial the export keeps for the copy page nor the job's private folder.
TEST_F(BurnJobsTest, DataDiscExportFailuresEndWithTheirTextsAndLeaveNoFile) {
  struct Case {
    const char* what;
    std::function<void(Rig&)> arrange;
    bool sha1;
    std::vector<std::string> logs;  // after "Downloading files from LYR..."
    std::string message;
  };
  const std::vector<Case> cases = {
      {"temporary folder missing",
       [](Rig& t) { fs::remove(t.temp_); },
       false,
       {},
       "Error: Create temporary file failed!"},
      {"read fails midway",
       [](Rig& t) { t.recorder_.config().read_fail_offset = 70000; },
       false,
       {"Failed\r\n"},
       "Error: Read data from LYR error!"},
      {"cancel during the download",
       [](Rig& t) {
         t.window_.on_event = [&t](const std::string& e) {
           if (e == "progress 10") t.window_.cancel = true;
         };
       },
       true,
       {"User abort!\r\n"},
       "Warning: User Abort!"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Rig t;
    const uint32_t a = t.recorder_.AddPcm("A", 300000, 48000);
    const uint32_t b = t.recorder_.AddPcm("B", 300000, 48000);
    t.link_ = t.recorder_.MakeLink();
    c.arrange(t);
    const BurnJobResult r =
        t.BurnData({{a, "/A"}, {b, "/B"}}, c.sha1, lyr::ExportFormat::Bwf, lyr::ExportFormat::Bwf);
    EXPECT_EQ(r.result, 0);
    std::vector<std::string> logs{"log Downloading files from LYR..."};
    for (const auto& l : c.logs) logs.push_back("log " + l);
    EXPECT_EQ(t.window_.Events("log"), logs);
    EXPECT_EQ(t.window_.Events("message"), (std::vector<std::string>{"message " + c.message}));
    EXPECT_EQ(t.window_.Events("finished"), (std::vector<std::string>{"finished 0"}));
    if (fs::exists(t.temp_)) {
      EXPECT_EQ(t.TempFiles(), 0u);
    }
    EXPECT_TRUE(t.runner_.calls.empty() || t.runner_.calls.front() == "interrupt");
    t.recorder_.config().read_fail_offset = -1;
    EXPECT_FALSE(t.Copied(a) || t.Copied(b));
  }
}

TEST_F(BurnJobsTest, DataDiscCopiedMarkFailureIsNoSuccess) {
  const uint32_t a = recorder_.AddPcm("A", 1000, 48000);
  link_ = recorder_.MakeLink();
  window_.on_event = [&](const std::string& e) {
    if (e == "log Burning ...\r\n") recorder_.config().disconnect_after = 1;
  };
  const BurnJobResult r = BurnData({{a, "/A"}}, false, lyr::ExportFormat::Bwf, lyr::ExportFormat::Bwf);
  EXPECT_EQ(r.result, 0);
  EXPECT_FALSE(r.burned);
  // The disc itself was written: the window says so beside the failure.
  EXPECT_TRUE(r.written);
  EXPECT_EQ(window_.Events("message"), (std::vector<std::string>{"message Error: Access LYR Failed!"}));
  EXPECT_EQ(TempFiles(), 0u);
}

}  // namespace
