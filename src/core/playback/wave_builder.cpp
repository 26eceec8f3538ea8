#include "playback/wave_builder.h"

#include <algorithm>

#include "platform/last_error.h"
#include "platform/thread_priority.h"
#include "playback/recording_reader.h"
#include "playback/wave_columns.h"

namespace lyr {

WaveBuilder::WaveBuilder(RecorderLink& link, ProgressHandler on_progress)
    : link_(link), on_progress_(std::move(on_progress)) {}

WaveBuilder::~WaveBuilder() { Cancel(); }

void WaveBuilder::Start(uint32_t entry) {
  JoinEnded();
  uint64_t generation;
  {
    std::lock_guard lock(mutex_);
    generation = ++generation_;  // the build still running sees itself cancelled
    cancel_ = false;
    progress_ = WaveBuildProgress{};
    progress_.entry = entry;
    sample_rate_ = 0;
    table_.clear();
  }
  wake_.notify_all();
  auto ended = std::make_shared<std::atomic<bool>>(false);
  workers_.push_back({std::thread([this, generation, entry, ended] {
                        Run(generation, entry);
                        *ended = true;
                      }),
                      ended});
}

void WaveBuilder::JoinEnded() {
  std::erase_if(workers_, [](Worker& w) {
    if (!*w.ended) return false;
    w.thread.join();  // it has ended: its last step was to say so
    return true;
  });
}

void WaveBuilder::RequestCancel() {
  {
    std::lock_guard lock(mutex_);
    cancel_ = true;
  }
  wake_.notify_all();
}

void WaveBuilder::Cancel() {
  RequestCancel();
  for (Worker& w : workers_) w.thread.join();
  workers_.clear();
}

bool WaveBuilder::Cancelled(uint64_t generation) const {
  std::lock_guard lock(mutex_);
  return CancelledLocked(generation);
}

WaveBuildProgress WaveBuilder::Progress() const {
  std::lock_guard lock(mutex_);
  return progress_;
}

void WaveBuilder::Columns(std::span<uint8_t> out, uint32_t count, uint32_t start_ms,
                          uint32_t length_ms) const {
  count = static_cast<uint32_t>(std::min<size_t>(count, out.size() / 2));
  std::lock_guard lock(mutex_);
  const double frames_per_column =
      count == 0 ? 0 : static_cast<double>(WaveFrameOfMs(sample_rate_, length_ms)) / count;
  FoldWaveColumns(table_, progress_.frame_count, WaveFrameOfMs(sample_rate_, start_ms), frames_per_column,
                  out, count, [](uint32_t) { return true; });
}

std::vector<uint8_t> WaveBuilder::FramePeaks() const {
  std::lock_guard lock(mutex_);
  return table_;
}

bool WaveBuilder::Report(uint64_t generation) {
  WaveBuildProgress now;
  {
    std::lock_guard lock(mutex_);
    // A restarted build publishes nothing more: the progress is the new one's.
    if (generation != generation_) return false;
    now = progress_;
  }
  if (on_progress_) on_progress_(now);
  std::unique_lock lock(mutex_);
  if (pace_.count() > 0 && !now.finished)
    wake_.wait_for(lock, pace_, [&] { return CancelledLocked(generation); });
  return !CancelledLocked(generation);
}

void WaveBuilder::LetWaitersIn(uint64_t generation) const {
  const auto until = std::chrono::steady_clock::now() + kMaxYield;
  while (link_.ExchangesWaiting() > 0 && std::chrono::steady_clock::now() < until && !Cancelled(generation))
    std::this_thread::sleep_for(std::chrono::microseconds(500));
}

void WaveBuilder::Run(uint64_t generation, uint32_t entry) {
  LowerThisThreadsPriority();
  Status result = Build(generation, entry);
  {
    std::lock_guard lock(mutex_);
    if (generation != generation_) return;
    progress_.finished = true;
    progress_.result = std::move(result);
  }
  Report(generation);
}

Status WaveBuilder::Build(uint64_t generation, uint32_t entry) {
  const auto cancelled = [] { return Error::Code(kErrorCancelled, "waveform build cancelled"); };
  RecordingReader reader(link_);
  if (reader.OpenRecordingReader(entry) == 0) return Error::Code(GetLastError(), "open recording");
  if (Cancelled(generation)) return cancelled();
  {
    std::lock_guard lock(mutex_);
    if (generation != generation_) return cancelled();
    sample_rate_ = reader.record().SampleRate();
    progress_.frame_count = reader.frame_count();
    progress_.sample_rate = sample_rate_;
    progress_.date = reader.date();
    table_.assign(size_t{reader.frame_count()} * 2, 0);
  }
  if (!Report(generation)) return cancelled();

  // PCM pieces hold whole frames; Layer II pieces end where the last whole frame does.
  const uint32_t piece_bytes = reader.decoder() == nullptr
                                   ? std::max(1u, kPieceBytes / reader.frame_length()) * reader.frame_length()
                                   : kPieceBytes;
  std::vector<uint8_t> piece(piece_bytes);
  std::vector<uint8_t> peaks(piece_bytes * 2);
  const uint64_t size = reader.record().DataSize();
  uint64_t offset = 0;
  uint32_t frame = 0;
  while (offset < size && frame < reader.frame_count()) {
    LetWaitersIn(generation);
    if (reader.link().ReadRecordingData(entry, static_cast<uint32_t>(offset), piece_bytes, piece.data()) ==
        0) {
      return Error::Code(GetLastError(), "read recording at " + std::to_string(offset));
    }
    LYR_TRY_ASSIGN(const PiecePeaks got,
                   ComputePiecePeaks(reader, piece, offset, frame, reader.frame_length(), peaks));
    if (got.frames == 0 && got.end_offset <= offset) break;  // a partial frame at the end
    {
      std::lock_guard lock(mutex_);
      if (generation != generation_) return cancelled();
      if (got.frames != 0) {
        std::copy_n(peaks.begin(), size_t{got.frames} * 2, table_.begin() + size_t{got.first_frame} * 2);
        progress_.frames_ready = got.first_frame + got.frames;
      }
    }
    offset = got.end_offset;
    frame = got.first_frame + got.frames;
    if (!Report(generation)) return cancelled();
  }
  return {};
}

}  // namespace lyr
