#pragma once
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <thread>
#include <vector>

#include "link/recorder_link.h"
#include "platform/result.h"
#include "recordings/recording_record.h"

namespace lyr {

// How far the overview of a recording has come.
struct WaveBuildProgress {
  uint32_t entry = 0;
  // Frames from the start whose peaks are ready, of all the recording's frames.
  uint32_t frames_ready = 0;
  uint32_t frame_count = 0;
  // From the recording's record once it is read (0 before): the rate that
  // turns milliseconds into frames, and the start date and time.
  uint32_t sample_rate = 0;
  RecordingDate date;
  bool finished = false;
  // Once finished: why the build stopped early (1223 when cancelled, the
  // link's error when a read failed, 13 for a frame the decoder refused).
  Status result;
};

// Builds the per-frame peaks of a whole recording on a worker thread, so
// that the caller (the strip on the GUI thread) never waits for the
// recorder. The worker shares the link with playback: it reads modest
// pieces, each one command under the link's command lock, and decodes
// outside it; before each read it lets any thread waiting for the link go
// first (the lock itself is not fair), and it runs at idle priority like the
// player's own reader, so playback never waits for more than one piece. The strip asks
// for columns at any time and gets what is ready so far.
class WaveBuilder {
 public:
  // Bytes the worker reads from the recorder at a time.
  static constexpr uint32_t kPieceBytes = 32768;
  // Called on the worker thread after each piece and once at the end; it
  // must not call back into the builder's Start or Cancel.
  using ProgressHandler = std::function<void(const WaveBuildProgress&)>;

  explicit WaveBuilder(RecorderLink& link, ProgressHandler on_progress = {});
  ~WaveBuilder();
  WaveBuilder(const WaveBuilder&) = delete;
  WaveBuilder& operator=(const WaveBuilder&) = delete;

  // Longest the worker lets threads waiting for the link go first before
  // its next read.
  static constexpr std::chrono::milliseconds kMaxYield{50};
  // A pause after each piece, for a link that playback needs more than the
  // gaps the decoding leaves. Set before Start.
  void SetPace(std::chrono::milliseconds pause) { pace_ = pause; }

  // Starts a build for `entry` without waiting for the one still running:
  // that one is cancelled, publishes nothing more and ends on its own (its
  // read under way may take the link's reply bound); its thread is joined
  // once it has ended.
  void Start(uint32_t entry);
  // Stops the build and returns once every worker has ended; the peaks
  // ready so far stay.
  void Cancel();
  // Asks the build to stop without waiting for the worker: for a caller
  // that must not wait for a read under way. Cancel (or the destructor)
  // joins it later.
  void RequestCancel();

  WaveBuildProgress Progress() const;
  // Columns as BuildWaveColumns gives them, from the peaks ready so far: a
  // frame not built yet counts as 0. Never reads the recorder.
  void Columns(std::span<uint8_t> out, uint32_t count, uint32_t start_ms, uint32_t length_ms) const;
  // The left and right peak of every frame ready so far (0 for the others).
  std::vector<uint8_t> FramePeaks() const;

 private:
  // A build's worker; `generation` tells it from the builds after it.
  struct Worker {
    std::thread thread;
    std::shared_ptr<std::atomic<bool>> ended;
  };
  void Run(uint64_t generation, uint32_t entry);
  Status Build(uint64_t generation, uint32_t entry);
  // Publishes the progress; false once cancelled or restarted.
  bool Report(uint64_t generation);
  bool Cancelled(uint64_t generation) const;  // with mutex_ held: CancelledLocked
  bool CancelledLocked(uint64_t generation) const { return cancel_ || generation != generation_; }
  // Waits (at most kMaxYield) while other threads wait for the link.
  void LetWaitersIn(uint64_t generation) const;
  // Joins the workers that have ended.
  void JoinEnded();

  RecorderLink& link_;
  ProgressHandler on_progress_;
  std::chrono::milliseconds pace_{0};

  mutable std::mutex mutex_;
  std::condition_variable wake_;
  bool cancel_ = false;
  uint64_t generation_ = 0;
  WaveBuildProgress progress_;
  uint32_t sample_rate_ = 0;
  std::vector<uint8_t> table_;   // left and right per frame
  std::vector<Worker> workers_;  // the current build's last; touched by the owner's thread only
};

}  // namespace lyr
