// lyrctl play: a recording from the recorder to the sound device, with a
// one-line display and keys for pause, seek, speed and quit.
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <mutex>

#include "cli_support.h"
#include "platform/event.h"
#include "playback/player_buffer.h"
#include "playback/sdl/sdl_sound_backend.h"
#include "playback/sound_output.h"
#include "recording_selection.h"
#include "text_output.h"

namespace lyrctl {
namespace {

struct PlayArgs {
  std::string recording;
  int speed = 100;
  double volume_db = 0;
  double start = 0;
};

std::atomic<bool> g_interrupted{false};
void OnInterrupt(int) { g_interrupted = true; }

// What the sound output tells lyrctl: messages to stderr, the end of
// playback to the main loop.
class CliNotices final : public lyr::PlayerNotices {
 public:
  void Message(const std::string& text, const std::string& caption) override {
    std::fprintf(stderr, "lyrctl: %s: %s\n", caption.c_str(), DeviceShownLines(text).c_str());
  }
  void PlaybackEnded(uint32_t error) override {
    {
      std::lock_guard lock(mutex_);
      ended_ = true;
      error_ = error;
    }
    event_.Set();
  }
  // Waits up to `timeout` for the end; true once playback has ended.
  bool WaitEnded(std::chrono::milliseconds timeout, uint32_t* error) {
    event_.Wait(timeout);
    std::lock_guard lock(mutex_);
    *error = error_;
    return ended_;
  }

 private:
  std::mutex mutex_;
  bool ended_ = false;
  uint32_t error_ = 0;
  lyr::Event event_{lyr::Event::Reset::Auto};
};

// The terminal in single-key mode for the life of the object, when stdin is one.
class KeyReader {
 public:
  KeyReader() {
    if (!isatty(STDIN_FILENO) || tcgetattr(STDIN_FILENO, &saved_) != 0) return;
    termios raw = saved_;
    raw.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
    raw.c_cc[VMIN] = 0;
    raw.c_cc[VTIME] = 0;
    active_ = tcsetattr(STDIN_FILENO, TCSANOW, &raw) == 0;
  }
  ~KeyReader() {
    if (active_) tcsetattr(STDIN_FILENO, TCSANOW, &saved_);
  }
  KeyReader(const KeyReader&) = delete;
  KeyReader& operator=(const KeyReader&) = delete;

  enum Key { kNone, kPause, kLeft, kRight, kFaster, kSlower, kQuit };
  // The next key within `timeout`; kNone when none came.
  Key Next(std::chrono::milliseconds timeout) {
    if (!active_) {
      std::this_thread::sleep_for(timeout);
      return kNone;
    }
    pollfd p{STDIN_FILENO, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(timeout.count())) <= 0) return kNone;
    char buf[8];
    const ssize_t n = read(STDIN_FILENO, buf, sizeof buf);
    if (n <= 0) return kNone;
    if (n >= 3 && buf[0] == 27 && buf[1] == '[')
      return buf[2] == 'C' ? kRight : buf[2] == 'D' ? kLeft : kNone;
    switch (buf[0]) {
      case ' ':
        return kPause;
      case '+':
      case '=':
        return kFaster;
      case '-':
        return kSlower;
      case 'q':
      case 'Q':
        return kQuit;
      default:
        return kNone;
    }
  }

 private:
  termios saved_{};
  bool active_ = false;
};

// "-40 dB to 0 dB" as ten characters.
std::string LevelBar(int peak) {
  const double db = peak <= 0 ? -100.0 : 20.0 * std::log10(peak / 32767.0);
  const int n = std::clamp(static_cast<int>(std::lround((db + 40.0) / 4.0)), 0, 10);
  return std::string(static_cast<size_t>(n), '#') + std::string(static_cast<size_t>(10 - n), ' ');
}

lyr::Status RunPlay(const GlobalOptions& options, const PlayArgs& args) {
  // The range checks let NaN through: every comparison with it is false.
  if (!std::isfinite(args.volume_db)) return UsageError("--volume must lie between -100 and 0 dB");
  if (!std::isfinite(args.start)) return UsageError("--start must be a number of seconds, 0 or more");
  LYR_TRY_ASSIGN(RecorderSession session, OpenRecorderSession(options));
  lyr::RecordingCatalogue catalogue(*session.link);
  LYR_TRY(LoadWholeCatalogue(catalogue));
  LYR_TRY_ASSIGN(const auto rows, SelectRecordings(catalogue, false, {args.recording}));
  const lyr::RecordingRow& row = *rows.front();
  const std::string shown_name = DeviceShownText(row.name);

  std::string why;
  std::unique_ptr<lyr::SoundBackend> backend = lyr::ChooseSoundBackend(&why, lyr::SilentFallback::kRefused);
  if (backend == nullptr) return Failure("no sound device: " + why, lyr::kErrorBadDevice);
  std::unique_ptr<lyr::PlayerBuffer> buffer = lyr::PlayerBuffer::BuffMgrCreate(*session.link);
  if (buffer == nullptr) return Failure("cannot start the player buffer", lyr::kErrorNotEnoughMemory);
  CliNotices notices;
  lyr::SoundOutput sound(*session.link, buffer.get(), std::move(backend), notices);
  lyr::PlayerControl output(sound);
  if (!output.InitAudio()) return Failure("no sound output", lyr::kErrorBadDevice);
  (void)output.SetSpeedPercent(args.speed);
  if (!output.SetVolume(static_cast<int32_t>(std::lround(args.volume_db * 100))))
    return UsageError("--volume must lie between -100 and 0 dB");

  struct sigaction action {
  }, old_int{};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, &old_int);
  g_interrupted = false;

  if (const lyr::Status played = output.PlayRecording(row.entry, args.start); !played) {
    sigaction(SIGINT, &old_int, nullptr);
    const uint32_t error = played.error().code;
    return Failure("cannot play " + shown_name + (error != 0 ? " (error " + std::to_string(error) + ")" : ""),
                   error != 0 ? error : lyr::kErrorIoDevice);
  }
  const double duration = output.GetDuration().value_or(0);
  if (args.start > 0 && args.start >= duration) {
    output.StopPlayback();
    output.ShutdownAudio();
    sigaction(SIGINT, &old_int, nullptr);
    char text[96];
    std::snprintf(text, sizeof text,
                  "--start %.3f s is past the end of the recording (%.3f s long): ", args.start, duration);
    return UsageError(text + shown_name);
  }

  // With --json stdout holds only the result object.
  const bool live = !options.json && isatty(STDOUT_FILENO) != 0;
  KeyReader keys;
  double position = args.start;
  uint32_t error = 0;
  bool quit = false;
  bool gone = false;
  for (;;) {
    if (notices.WaitEnded(std::chrono::milliseconds(0), &error) || g_interrupted) break;
    // A recorder that is unplugged (or a stand-in that ends) takes its disk
    // with it: playback ends now, not when the held audio runs out.
    struct stat st {};
    if (::stat(session.device_path.c_str(), &st) != 0) {
      gone = true;
      break;
    }
    if (live || options.json) position = output.GetCurrentTime().value_or(position);
    if (live) {
      const double now = position;
      const auto [left, right] = output.GetPeaks().value_or({});
      std::printf("\r%s  %s / %s  L[%s] R[%s]  %d%%%s\033[K", shown_name.c_str(),
                  lyr::FormatDuration(static_cast<uint32_t>(now)).c_str(),
                  lyr::FormatDuration(static_cast<uint32_t>(duration)).c_str(), LevelBar(left).c_str(),
                  LevelBar(row.record.Channels() > 1 ? right : left).c_str(), output.speed_percent(),
                  output.GetState() == lyr::CAudioBuffer::kPaused ? "  paused" : "");
      std::fflush(stdout);
    }
    const KeyReader::Key key = keys.Next(std::chrono::milliseconds(100));
    switch (key) {
      case KeyReader::kPause:
        if (!output.Pause()) (void)output.Resume();
        break;
      case KeyReader::kLeft:
      case KeyReader::kRight: {
        const double now = output.GetCurrentTime().value_or(0);
        const double target = now + (key == KeyReader::kRight ? 5.0 : -5.0);
        (void)output.SeekTime(std::clamp(target, 0.0, std::max(0.0, duration - 0.5)));
        break;
      }
      case KeyReader::kFaster:
        (void)output.SetSpeedPercent(std::min(lyr::SoundOutput::kMaxSpeed, output.speed_percent() + 10));
        break;
      case KeyReader::kSlower:
        (void)output.SetSpeedPercent(std::max(lyr::SoundOutput::kMinSpeed, output.speed_percent() - 10));
        break;
      case KeyReader::kQuit:
        quit = true;
        break;
      case KeyReader::kNone:
        break;
    }
    if (quit) break;
  }
  if (live) std::printf("\n");
  output.StopPlayback();
  output.ShutdownAudio();
  sigaction(SIGINT, &old_int, nullptr);
  const char* ended = gone            ? "recorder gone"
                      : error != 0    ? "read failed"
                      : g_interrupted ? "interrupted"
                      : quit          ? "quit"
                                      : "end";
  if (options.json)
    PrintJson({{"entry", row.entry},
               {"name", DeviceJsonText(row.name)},
               {"duration_seconds", duration},
               {"start_seconds", args.start},
               {"position_seconds", position},
               {"ended", ended},
               {"complete", !gone && error == 0 && !g_interrupted && !quit}});
  if (gone)
    return Failure("playback of " + shown_name + " stopped: the recorder is gone (error " +
                       std::to_string(lyr::kErrorConnectionUnavail) + ")",
                   lyr::kErrorConnectionUnavail);
  if (error != 0) {
    const uint32_t link_error = buffer->ReadErrorCode();
    return Failure("playback of " + shown_name + " stopped: the recorder could not be read (error " +
                       std::to_string(link_error != 0 ? link_error : error) + ")",
                   error);
  }
  if (g_interrupted) return Cancelled("playback stopped");
  return {};
}

}  // namespace

CommandRun AddPlayCommand(CLI::App& cmd) {
  auto args = std::make_shared<PlayArgs>();
  cmd.add_option("recording", args->recording, "The recording: its name, its entry, or entry:N / name:TEXT")
      ->required();
  cmd.add_option("--speed", args->speed, "Playback speed in percent, 50 to 200 (pitch follows speed)")
      ->check(CLI::Range(lyr::SoundOutput::kMinSpeed, lyr::SoundOutput::kMaxSpeed));
  cmd.add_option("--volume", args->volume_db, "Volume in dB, -100 to 0")->check(CLI::Range(-100.0, 0.0));
  cmd.add_option("--start", args->start, "Start this many seconds into the recording")
      ->check(CLI::NonNegativeNumber);
  cmd.footer("Example: lyrctl play --speed 150 --start 30 LYR0002");
  return [args](const GlobalOptions& options) { return RunPlay(options, *args); };
}

}  // namespace lyrctl
