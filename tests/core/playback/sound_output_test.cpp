#include "playback/sound_output.h"

#include <gtest/gtest.h>

#include <cmath>
#include <condition_variable>
#include <mutex>

#include "platform/last_error.h"
#include "playback/null_sound_backend.h"
#include "core/playback/playback_fixture.h"

namespace lyr {
namespace {

using test::WaitFor;

class RecordedNotices final : public PlayerNotices {
 public:
  void Message(const std::string& text, const std::string& caption) override {
    std::lock_guard lock(mutex_);
    messages_.push_back(caption + ": " + text);
  }
  void PlaybackEnded(uint32_t error) override {
    std::lock_guard lock(mutex_);
    ended_.push_back(error);
  }
  std::vector<std::string> messages() {
    std::lock_guard lock(mutex_);
    return messages_;
  }
  std::vector<uint32_t> ended() {
    std::lock_guard lock(mutex_);
    return ended_;
  }

 private:
  std::mutex mutex_;
  std::vector<std::string> messages_;
  std::vector<uint32_t> ended_;
};

class SoundOutputTest : public test::PlaybackFixture {
 protected:
  void Open(bool with_backend = true) {
    Connect();
    auto backend = std::make_unique<NullSoundBackend>();
    null_ = backend.get();
    output_ = std::make_unique<SoundOutput>(*link_, buffer_.get(),
                                            with_backend ? std::move(backend) : nullptr, notices_);
  }
  // Plays `entry` with the whole recording already in the player buffer, so
  // that no refill finds its data late.
  void Play(uint32_t entry) {
    ASSERT_EQ(output_->InitAudio(), 0);
    ASSERT_EQ(output_->PlayRecording(entry), 0);
    ASSERT_TRUE(WaitFor([&] { return (buffer_->BuffMgrGetState() & BUFFMGR_END) != 0; }));
  }
  CAudioStream& stream() { return *output_->stream(); }
  // Plays `frames` device frames in pieces of at most one chunk, letting the
  // notification thread refill after each.
  void PlayFrames(uint32_t frames) {
    const uint32_t chunk =
        stream().GetBuffer()->Size() / SoundOutput::kNotifyCount / stream().GetBuffer()->Format().block_align;
    while (frames > 0) {
      const uint32_t n = std::min(frames, chunk);
      const uint64_t played = stream().GetBuffer()->FramesConsumed();
      const uint32_t cursor = stream().GetBuffer()->GetCurrentPosition();
      null_->Advance(n);
      frames -= n;
      // A chunk boundary passed: wait until its refill is done.
      if (stream().IsSoundPlaying() &&
          cursor / (chunk * 4) != stream().GetBuffer()->GetCurrentPosition() / (chunk * 4)) {
        const uint32_t next = stream().GetBuffer()->GetCurrentPosition() / (chunk * 4) * (chunk * 4);
        ASSERT_TRUE(WaitFor([&] {
          return !stream().IsSoundPlaying() ||
                 stream().next_write_offset() == next % stream().GetBuffer()->Size();
        })) << played;
      }
    }
  }

  RecordedNotices notices_;
  NullSoundBackend* null_ = nullptr;
  std::unique_ptr<SoundOutput> output_;
};

TEST_F(SoundOutputTest, ChunksOfASixteenthOfASecond) {
  const uint32_t entry = AddPcm(std::vector<uint8_t>(176400, 1), 44100);
  Open();
  Play(entry);
  EXPECT_EQ(stream().GetBuffer()->Size(), 176384u);  // 16 x 11,024
  EXPECT_EQ(null_->rate(), 44100u);
  EXPECT_EQ(null_->channels(), 2);
  EXPECT_EQ(stream().written(), 176384u);
}

TEST_F(SoundOutputTest, PlaysTheRecordingThenSilenceAndTellsThePlayerAtTheEnd) {
  const auto pcm = test::TwoTones(48000, 2, 2.3);
  const auto data = test::Bytes(pcm);
  const uint32_t entry = AddPcm(data);
  Open();
  null_->SetCapture(true);
  Play(entry);
  const uint32_t buffer_size = stream().GetBuffer()->Size();
  EXPECT_EQ(buffer_size, 192000u);

  // One chunk played: one notification refills that chunk.
  PlayFrames(3000);
  EXPECT_EQ(stream().next_write_offset(), 12000u);
  EXPECT_EQ(stream().written(), buffer_size + 12000u);
  // Two chunks passed before the thread runs: one refill of both.
  null_->Advance(6000);
  ASSERT_TRUE(WaitFor([&] { return stream().next_write_offset() == 36000u; }));
  EXPECT_EQ(stream().written(), buffer_size + 36000u);

  PlayFrames(48000 * 2);
  EXPECT_TRUE(notices_.ended().empty());
  EXPECT_EQ(output_->GetState(), CAudioBuffer::kPlaying);
  double t = 0;
  ASSERT_EQ(output_->GetCurrentTime(&t), 0);
  EXPECT_NEAR(t, (3000.0 + 6000 + 96000) / 48000, 1.0 / 16 + 0.01);
  // The rest of the recording and the silence written after it.
  ASSERT_TRUE(WaitFor([&] {
    null_->Advance(1000);
    return !notices_.ended().empty();
  }));
  EXPECT_EQ(notices_.ended(), std::vector<uint32_t>{0});
  EXPECT_EQ(output_->GetState(), CAudioBuffer::kStopped);
  EXPECT_GE(stream().played(), stream().written());
  const std::vector<int16_t> heard = null_->TakeCaptured();
  ASSERT_GE(heard.size(), pcm.size());
  EXPECT_TRUE(std::equal(pcm.begin(), pcm.end(), heard.begin())) << "every sample once, in order";
  EXPECT_TRUE(std::all_of(heard.begin() + static_cast<long>(pcm.size()), heard.end(),
                          [](int16_t v) { return v == 0; }));
  output_->StopPlayback();
  EXPECT_EQ(stream().GetSource(), nullptr);
}

TEST_F(SoundOutputTest, SpeedIsTheRateTheBufferIsConsumedAt) {
  const uint32_t entry = AddPcm(test::Bytes(test::TwoTones(48000, 2, 3.0)));
  Open();
  Play(entry);
  struct Case {
    int percent;
    uint32_t frequency;
  };
  for (const Case c : {Case{100, 48000}, Case{200, 96000}, Case{50, 24000}, Case{150, 72000}}) {
    ASSERT_EQ(output_->SetSpeedPercent(c.percent), 0);
    EXPECT_EQ(stream().GetBuffer()->GetFrequency(), c.frequency);
    const uint64_t before = stream().GetBuffer()->FramesConsumed();
    PlayFrames(4800);  // 0.1 s of the device
    EXPECT_EQ(stream().GetBuffer()->FramesConsumed() - before, uint64_t{c.frequency} / 10) << c.percent;
  }
  EXPECT_EQ(output_->SetSpeedPercent(49), 1);
  EXPECT_EQ(output_->SetSpeedPercent(201), 1);
}

TEST_F(SoundOutputTest, HalfSpeedInterpolatesBetweenFrames) {
  const auto pcm = test::TwoTones(48000, 2, 2.0);
  const uint32_t entry = AddPcm(test::Bytes(pcm));
  Open();
  ASSERT_EQ(output_->SetSpeedPercent(50), 0);
  null_->SetCapture(true);
  Play(entry);
  PlayFrames(2000);
  const auto heard = null_->TakeCaptured();
  for (size_t i = 0; i < 1000; ++i) {
    for (size_t c = 0; c < 2; ++c) {
      EXPECT_EQ(heard[4 * i + c], pcm[2 * i + c]);
      const int mid = (pcm[2 * i + c] + pcm[2 * i + 2 + c]);
      EXPECT_NEAR(heard[4 * i + 2 + c], mid / 2.0, 1.0) << i;
    }
  }
}

TEST_F(SoundOutputTest, VolumeAndPeaks) {
  // A full-scale square wave: +20000 on the left, -12000/+9000 on the right.
  std::vector<int16_t> pcm;
  for (int i = 0; i < 96000; ++i) {
    pcm.push_back(20000);
    pcm.push_back(i % 2 ? -12000 : 9000);
  }
  const uint32_t entry = AddPcm(test::Bytes(pcm));
  Open();
  null_->SetCapture(true);
  Play(entry);
  ASSERT_EQ(output_->SetVolume(-600), 0);  // -6 dB
  EXPECT_EQ(output_->SetVolume(1), 1);
  PlayFrames(4800);
  int left = -1, right = -1;
  ASSERT_EQ(output_->GetPeaks(&left, &right), 0);
  EXPECT_EQ(left, 20000);
  EXPECT_EQ(right, 9000) << "negative swings do not count";
  const auto heard = null_->TakeCaptured();
  const double gain = std::pow(10.0, -600 / 2000.0);
  EXPECT_NEAR(heard[100], 20000 * gain, 1.0);
  ASSERT_EQ(output_->SetVolume(-10000), 0);
  PlayFrames(480);
  const auto silent = null_->TakeCaptured();
  EXPECT_TRUE(std::all_of(silent.begin(), silent.end(), [](int16_t v) { return v == 0; }));
}

TEST_F(SoundOutputTest, FailedRefillStopsPlaybackAndTellsThePlayer) {
  const auto data = test::Bytes(test::TwoTones(48000, 2, 4.0));
  const uint32_t entry = AddPcm(data);
  recorder_.config().read_fail_offset = 300000;
  Open();
  null_->SetCapture(true);
  ASSERT_EQ(output_->InitAudio(), 0);
  ASSERT_EQ(output_->PlayRecording(entry), 0);
  ASSERT_TRUE(WaitFor([&] { return (buffer_->BuffMgrGetState() & BUFFMGR_READ_ERROR) != 0; }));
  ASSERT_TRUE(WaitFor([&] {
    null_->Advance(1000);
    return !notices_.ended().empty();
  }));
  EXPECT_EQ(notices_.ended(), std::vector<uint32_t>{kErrorIoDevice});
  EXPECT_EQ(output_->GetState(), CAudioBuffer::kStopped);
  // No second of audio repeated: what follows is silence.
  null_->TakeCaptured();
  null_->Advance(48000);
  const auto after = null_->TakeCaptured();
  EXPECT_TRUE(std::all_of(after.begin(), after.end(), [](int16_t v) { return v == 0; }));
}

TEST_F(SoundOutputTest, PauseResumeAndSeek) {
  const auto pcm = test::TwoTones(48000, 2, 3.0);
  const uint32_t entry = AddPcm(test::Bytes(pcm));
  Open();
  Play(entry);
  ASSERT_EQ(output_->Pause(), 0);
  EXPECT_EQ(output_->GetState(), CAudioBuffer::kPaused);
  const uint64_t consumed = stream().GetBuffer()->FramesConsumed();
  null_->Advance(4800);
  EXPECT_EQ(stream().GetBuffer()->FramesConsumed(), consumed);
  ASSERT_EQ(output_->Resume(), 0);
  null_->SetCapture(true);
  ASSERT_EQ(output_->SeekTime(2.0), 0);
  double t = 0;
  ASSERT_EQ(output_->GetCurrentTime(&t), 0);
  EXPECT_NEAR(t, 2.0, 0.01);
  PlayFrames(100);
  const auto heard = null_->TakeCaptured();
  EXPECT_TRUE(std::equal(heard.begin(), heard.end(), pcm.begin() + 2 * 96000));
}

TEST_F(SoundOutputTest, NoSoundDeviceIsToldAndNothingPlays) {
  const uint32_t entry = AddPcm(std::vector<uint8_t>(48000, 0));
  Open(false);
  EXPECT_EQ(output_->InitAudio(), 1);
  EXPECT_EQ(notices_.messages(), std::vector<std::string>{"Wextel: Error initializing DirectSound. "});
  EXPECT_EQ(output_->PlayRecording(entry), 1);
  EXPECT_EQ(output_->PlayRecording(0), 1);
}

// The programs' face: the output's 0/1 results as a Status, its values as a
// Result, and never a stale last error passed off as a failure's reason.
TEST_F(SoundOutputTest, PlayerControlTurnsResultsIntoStatus) {
  const uint32_t entry = AddPcm(test::Bytes(test::TwoTones(48000, 2, 3.0)));
  Open();
  PlayerControl player(*output_);
  SetLastError(kErrorInvalidData);
  const Status idle = player.Pause();
  ASSERT_FALSE(idle.ok());
  EXPECT_EQ(idle.error().code, kErrorSuccess);  // nothing plays: no reason named
  EXPECT_FALSE(player.GetCurrentTime().ok());
  EXPECT_FALSE(player.GetPeaks().ok());

  ASSERT_TRUE(player.InitAudio().ok());
  ASSERT_TRUE(player.PlayRecording(entry).ok());
  const Result<double> duration = player.GetDuration();
  ASSERT_TRUE(duration.ok());
  EXPECT_NEAR(duration.value(), 3.0, 0.01);
  EXPECT_FALSE(player.SetSpeedPercent(SoundOutput::kMaxSpeed + 1).ok());
  EXPECT_FALSE(player.SetVolume(1).ok());
  ASSERT_TRUE(player.Pause().ok());
  EXPECT_EQ(player.GetState(), CAudioBuffer::kPaused);
  EXPECT_TRUE(player.Resume().ok());
}

}  // namespace
}  // namespace lyr
