#include "burn/burn_jobs.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <thread>

#include "burn/sample_rate_converter.h"
#include "decoder/audio_decoder.h"
#include "decoder/layer2_frame_source.h"
#include "platform/byte_order.h"
#include "platform/unique_fd.h"
#include "recordings/export_headers.h"
#include "recordings/recording_record.h"
#include "transfer/partial_file.h"
#include "transfer/recording_export.h"
#include "transfer/temporary_files.h"

namespace lyr::burn {
namespace {

constexpr uint32_t kPiece = 65536;
constexpr uint32_t kCdRate = 44100;
constexpr size_t kBatch = kAudioDecoderFrameOutputBytes;  // 4,608 bytes: one stereo Layer II frame
constexpr size_t kMaxFrameBytes = 2048;
constexpr auto kPollInterval = std::chrono::milliseconds(100);
// How long a cancelled tool may take to end (3 s) before it is killed: the
// program waits for the job when it closes.
constexpr int kInterruptPolls = 30;

// Every temporary file a job made, deleted when the job ends, whatever way.
class JobEnd {
 public:
  explicit JobEnd(BurnReporter& window) : window_(window) {}
  ~JobEnd() { DeleteFiles(); }
  void Track(const std::string& path) { files_.push_back(path); }
  BurnJobResult Finish(int result, bool burned = false) {
    DeleteFiles();
    window_.Finished(result);
    return {result, burned};
  }
  // A message with its log line, then the end with result 0.
  BurnJobResult Fail(const char* log, const char* message) {
    if (log != nullptr) window_.AppendLog(log);
    if (message != nullptr) window_.Message(message, "Error", MessageIcon::Warning);
    return Finish(0);
  }

 private:
  // A file, or a folder with everything in it.
  void DeleteFiles() {
    std::error_code ignored;
    for (const auto& f : files_) std::filesystem::remove_all(f, ignored);
    files_.clear();
  }
  BurnReporter& window_;
  std::vector<std::string> files_;
};

// The audio CD job's name for the one fd owner.
using Fd = UniqueFd;

// ---------------------------------------------------------------------------
// Audio CD tracks

enum class TrackOutcome { Done, Cancelled, ReadFailed, WriteFailed, DecoderFailed };

// Makes one CD track file from one recording: 16-bit stereo at 44,100 Hz.
class TrackMaker {
 public:
  explicit TrackMaker(CdConverter kind)
      : kind_(kind), input_(kMaxFrameBytes + kPiece), converted_(36864 / 4 * 2) {
    pcm_.reserve(4 * kPiece);
  }
  ~TrackMaker() {
    if (decoder_ != nullptr) AudioDecoderDestroy(decoder_);
  }

  TrackOutcome Make(const CdTrackPieceReader& read, const RecordingRecord& record, int fd, size_t item,
                    size_t items, BurnReporter& window);

 private:
  bool Put(const void* data, size_t bytes);
  bool FlushOut();
  // Writes whole batches of the decoded samples; with `last` everything left.
  bool Drain(bool last);
  bool DrainSoxr(bool last);
  void TakeMpeg(bool last);
  void TakePcm();

  const RecordingRecord* record_ = nullptr;
  int fd_ = -1;
  AudioDecoder* decoder_ = nullptr;
  Layer2FrameSource frames_;
  CdConverter kind_;
  CSampleRateConverter converter_;
  SoxrConverter soxr_;
  bool convert_ = false;
  uint32_t batch_frames_ = 0;
  std::vector<uint8_t> input_;
  size_t input_fill_ = 0;
  std::vector<int16_t> pcm_;  // decoded 16-bit stereo, not yet written
  std::vector<int16_t> converted_;
  std::vector<int16_t> resampled_;  // libsoxr's output
  std::vector<uint8_t> out_;
  uint64_t frames_in_ = 0;   // stereo frames that entered the converter's stream
  uint64_t frames_out_ = 0;  // frames written
  uint64_t bytes_written_ = 0;
  bool write_failed_ = false;
};

bool TrackMaker::FlushOut() {
  if (out_.empty()) return true;
  const Status written = WriteAll(fd_, out_.data(), out_.size(), "");
  bytes_written_ += out_.size();
  out_.clear();
  return static_cast<bool>(written);
}

bool TrackMaker::Put(const void* data, size_t bytes) {
  const auto* p = static_cast<const uint8_t*>(data);
  out_.insert(out_.end(), p, p + bytes);
  frames_out_ += bytes / 4;
  return out_.size() < kPiece || FlushOut();
}

bool TrackMaker::Drain(bool last) {
  if (!convert_) {
    if (pcm_.size() * 2 < kBatch && !last) return true;
    const bool ok = Put(pcm_.data(), pcm_.size() * 2);
    pcm_.clear();
    return ok;
  }
  if (kind_ == CdConverter::Soxr) return DrainSoxr(last);
  if (!last) {
    size_t start = 0;  // frames of pcm_ already converted
    while ((pcm_.size() / 2 - start) * 4 >= kBatch) {
      uint32_t consumed = 0;
      const uint32_t made =
          converter_.Convert(converted_.data(), pcm_.data() + 2 * start,
                             static_cast<uint32_t>(pcm_.size() / 2 - start), batch_frames_, &consumed);
      if (!Put(converted_.data(), made * 4u)) return false;
      start += consumed;
      if (made == 0 && consumed == 0) break;
    }
    pcm_.erase(pcm_.begin(), pcm_.begin() + 2 * start);
    return true;
  }
  // The tail: the frames left, then silence so that the last of them reach
  // the output too; the track ends where the recording ends.
  const uint64_t wanted = frames_in_ * kCdRate / converter_.InputRate();
  pcm_.resize(pcm_.size() + 2 * (static_cast<size_t>(converter_.Order()) + 1), 0);
  while (frames_out_ < wanted) {
    const uint64_t room = std::min<uint64_t>(wanted - frames_out_, converted_.size() / 2);
    uint32_t consumed = 0;
    const uint32_t made =
        converter_.Convert(converted_.data(), pcm_.data(), static_cast<uint32_t>(pcm_.size() / 2),
                           static_cast<uint32_t>(room), &consumed);
    if (!Put(converted_.data(), made * 4u)) return false;
    pcm_.erase(pcm_.begin(), pcm_.begin() + 2 * consumed);
    if (made == 0) break;
  }
  pcm_.clear();
  return true;
}

// In pieces of 64 KiB: few calls into libsoxr, little memory.
bool TrackMaker::DrainSoxr(bool last) {
  if (pcm_.size() * 2 < kPiece && !last) return true;
  resampled_.clear();
  soxr_.Push(pcm_.data(), pcm_.size() / 2, resampled_);
  pcm_.clear();
  size_t frames = resampled_.size() / 2;
  if (last) {
    // The filter's tail, cut or filled with silence: the track ends where
    // the recording ends.
    soxr_.Finish(resampled_);
    const uint64_t wanted = frames_in_ * kCdRate / record_->SampleRate();
    frames = frames_out_ < wanted ? static_cast<size_t>(wanted - frames_out_) : 0;
    resampled_.resize(2 * frames, 0);
  }
  return Put(resampled_.data(), frames * 4);
}

// The frames of the recording's stream, as Layer2FrameSource finds them; a
// frame the decoder cannot decode is taken for junk, and a frame cut off by
// the end of the recording is left out.
void TrackMaker::TakeMpeg(bool last) {
  frames_.Push({input_.data(), input_fill_});
  input_fill_ = 0;
  if (last) frames_.End();
  uint8_t decoded[kAudioDecoderFrameOutputBytes];
  for (std::span<const uint8_t> frame = frames_.Next(); !frame.empty(); frame = frames_.Next()) {
    size_t produced = 0;
    if (AudioDecoderDecode(decoder_, frame.data(), frame.size(), decoded, &produced) == 0) {
      frames_.Refuse();
      continue;
    }
    const auto* samples = reinterpret_cast<const int16_t*>(decoded);
    pcm_.insert(pcm_.end(), samples, samples + produced / 2);
    frames_in_ += produced / 4;
    if (!Drain(false)) {
      write_failed_ = true;
      break;
    }
  }
}

// Linear PCM in the recording's own layout (little-endian, 8 to 32 bits, any
// channel count) becomes 16-bit stereo: a single channel goes to both sides,
// deeper samples keep their top 16 bits, channels beyond two are left out.
void TrackMaker::TakePcm() {
  const RecordingRecord& rec = *record_;
  const size_t width = std::max<size_t>(1, (rec.BitsPerSample() + 7) / 8);
  const size_t channels = std::max<size_t>(1, rec.Channels());
  const size_t frame = width * channels;
  const size_t whole = input_fill_ / frame;
  const uint8_t* p = input_.data();
  auto sample = [&](const uint8_t* s) -> int16_t {
    switch (width) {
      case 1:
        return static_cast<int16_t>((s[0] - 128) << 8);
      case 2:
        return static_cast<int16_t>(s[0] | (s[1] << 8));
      default:
        return static_cast<int16_t>(s[width - 2] | (s[width - 1] << 8));
    }
  };
  const size_t old = pcm_.size();
  pcm_.resize(old + 2 * whole);
  int16_t* out = pcm_.data() + old;
  if (width == 2 && channels == 2) {
    std::memcpy(out, p, whole * 4);
  } else {
    for (size_t f = 0; f < whole; ++f) {
      const uint8_t* at = p + f * frame;
      out[2 * f] = sample(at);
      out[2 * f + 1] = channels >= 2 ? sample(at + width) : out[2 * f];
    }
  }
  frames_in_ += whole;
  const size_t used = whole * frame;
  std::memmove(input_.data(), input_.data() + used, input_fill_ - used);
  input_fill_ -= used;
}

TrackOutcome TrackMaker::Make(const CdTrackPieceReader& read, const RecordingRecord& record, int fd,
                              size_t item, size_t items, BurnReporter& window) {
  // The record's counts size the buffers below.
  if (!HasReadableAudio(record)) return TrackOutcome::ReadFailed;
  record_ = &record;
  fd_ = fd;
  input_fill_ = 0;
  pcm_.clear();
  out_.clear();
  frames_in_ = frames_out_ = bytes_written_ = 0;
  write_failed_ = false;
  const bool mpeg = record.IsMpegLayer2();
  if (mpeg) {
    if (decoder_ != nullptr) AudioDecoderDestroy(decoder_);
    decoder_ = AudioDecoderCreate();
    if (decoder_ == nullptr) return TrackOutcome::DecoderFailed;
    frames_ = Layer2FrameSource(Layer2StreamLock::OfRecording(record));
  }
  const uint32_t rate = record.SampleRate();
  if (rate == 0) return TrackOutcome::ReadFailed;
  convert_ = rate != kCdRate;
  if (convert_) {
    if (kind_ == CdConverter::Soxr) {
      if (!soxr_.Setup(rate, kCdRate)) return TrackOutcome::DecoderFailed;
    } else {
      converter_.Setup(rate, kCdRate);
      batch_frames_ = std::max<uint32_t>(ConversionBatchBytes(rate) / 4, 1);
      batch_frames_ = std::min<uint32_t>(batch_frames_, static_cast<uint32_t>(converted_.size() / 2));
    }
  }

  uint8_t placeholder[kCdWaveHeaderSize] = {};
  if (!WriteAll(fd, placeholder, sizeof placeholder, "")) return TrackOutcome::WriteFailed;

  const uint32_t size = record.DataSize();
  const double n = static_cast<double>(items);
  for (uint64_t offset = 0; offset < size; offset += kPiece) {
    if (window.CancelRequested()) return TrackOutcome::Cancelled;
    if (!read(static_cast<uint32_t>(offset), input_.data() + input_fill_)) return TrackOutcome::ReadFailed;
    const size_t got = static_cast<size_t>(std::min<uint64_t>(kPiece, size - offset));
    input_fill_ += got;
    const bool last = offset + got >= size;
    if (mpeg)
      TakeMpeg(last);
    else
      TakePcm();
    if (write_failed_ || !Drain(false)) return TrackOutcome::WriteFailed;
    window.SetStatus("Downloading...");
    window.SetProgress(static_cast<int>(
        (static_cast<double>(item) * 100 + 100.0 * static_cast<double>(offset + got) / size) / n));
  }
  if (!Drain(true) || !FlushOut()) return TrackOutcome::WriteFailed;

  uint8_t header[kCdWaveHeaderSize];
  uint32_t header_size = sizeof header;
  BuildCdWaveHeader(static_cast<uint32_t>(bytes_written_), header, &header_size);
  if (::pwrite(fd, header, header_size, 0) != static_cast<ssize_t>(header_size))
    return TrackOutcome::WriteFailed;
  return TrackOutcome::Done;
}

// ---------------------------------------------------------------------------
// The burn phase, shared by both jobs.

enum class BurnEnd { Succeeded, Failed, Cancelled };

BurnEnd PollBurn(BurnRunner& runner, BurnReporter& window, bool audio, std::string* said) {
  bool error_seen = false;
  int percent = 0;
  for (;;) {
    int exit_code = kToolStillActive;
    std::string errors;
    const int polled = audio ? runner.PollAudioBurn(&exit_code, &percent, &errors)
                             : runner.PollDataBurn(&exit_code, &percent, &errors);
    if (!errors.empty()) {
      window.AppendLog(errors);
      said->append(errors);
      error_seen = true;
    }
    if (polled != 0) {
      window.SetStatus("Finished");
      window.SetProgress(100);
      return BurnEnd::Failed;
    }
    if (exit_code != kToolStillActive) {
      window.SetStatus("Finished");
      window.SetProgress(100);
      // A tool that ends with a failing status failed, error line or not.
      return error_seen || exit_code != 0 ? BurnEnd::Failed : BurnEnd::Succeeded;
    }
    char text[64];
    std::snprintf(text, sizeof text, "Burning...      %d%%", percent);
    window.SetStatus(text);
    window.SetProgress(percent);
    std::this_thread::sleep_for(kPollInterval);
    if (window.CancelRequested()) return BurnEnd::Cancelled;
  }
}

// Starts the burn and sees it to its end: success texts, failure texts, or
// the user's abort. `keep` settles what the burn wrote (false when it could
// not), `mark` marks the recordings copied (false when one failed).
template <typename Start, typename Keep, typename Mark>
BurnJobResult BurnPhase(BurnRunner& runner, BurnReporter& window, JobEnd& end, bool audio, Start start,
                        Keep keep, Mark mark) {
  BurnEnd outcome = BurnEnd::Cancelled;
  std::string said;
  if (!window.CancelRequested()) {
    window.AppendLog("Succeeded\r\n");
    window.AppendLog("Burning ...\r\n");
    if (start() != 0) {
      // What stopped the start (the image maker refusing the label, say).
      said = runner.StartErrorText();
      if (!said.empty()) window.AppendLog(said + "\r\n");
      outcome = BurnEnd::Failed;
    } else {
      outcome = PollBurn(runner, window, audio, &said);
    }
    if (outcome == BurnEnd::Succeeded && !window.CancelRequested() && !keep()) outcome = BurnEnd::Failed;
  }
  if (outcome == BurnEnd::Cancelled || window.CancelRequested()) {
    window.AppendLog("User abort!\r\n");
    runner.InterruptToolProcess();
    // The tool gets a moment to end by itself before it is stopped.
    for (int i = 0; i < kInterruptPolls; ++i) {
      int exit_code = kToolStillActive, percent = 0;
      std::string errors;
      const int polled = audio ? runner.PollAudioBurn(&exit_code, &percent, &errors)
                               : runner.PollDataBurn(&exit_code, &percent, &errors);
      if (polled != 0 || exit_code != kToolStillActive) break;
      std::this_thread::sleep_for(kPollInterval);
    }
    runner.StopToolProcess();
    window.Message("User Abort!", "Warning", MessageIcon::Warning);
    return end.Finish(0);
  }
  if (outcome == BurnEnd::Failed) {
    window.AppendLog("Burning failed...\r\n");
    window.Message("Burning failed!", "Error", MessageIcon::Warning);
    BurnJobResult failed = end.Finish(1);
    failed.errors = OneLine(said);
    return failed;
  }
  BurnJobResult written;
  if (!mark()) {
    written = end.Fail("Failed\r\n", "Access LYR Failed!");
  } else {
    window.AppendLog("Burning Succeeded!\r\n");
    window.Message("Burned successfully!", "Information", MessageIcon::Information);
    written = end.Finish(1, true);
  }
  written.written = true;
  return written;
}

template <typename Item>
bool MarkCopied(RecorderLink& link, const std::vector<Item>& downloaded) {
  for (const auto& d : downloaded)
    if (!link.MarkRecordingCopied(d.entry)) return false;
  return true;
}

struct Downloaded {
  uint32_t entry = 0;
  std::string path;
  std::string digest_path;  // empty without a digest file
};

const Downloaded* FindDownloaded(const std::vector<Downloaded>& list, uint32_t entry) {
  for (const auto& d : list)
    if (d.entry == entry) return &d;
  return nullptr;
}

std::string TemporaryStem(const RecordingRecord& record) { return SafeRecordingFileName(record.Name()); }

}  // namespace

bool WriteCdTrack(const RecordingRecord& record, const CdTrackPieceReader& read, int fd, BurnReporter& window,
                  CdConverter converter) {
  TrackMaker maker(converter);
  return maker.Make(read, record, fd, 0, 1, window) == TrackOutcome::Done;
}

BurnJobResult RunAudioCdJob(RecorderLink& link, BurnRunner& runner, const AudioCdJob& job,
                            BurnReporter& window) {
  JobEnd end(window);
  window.ClearLog();
  window.AppendLog("Downloading files from LYR...");
  std::vector<std::string> waves;
  std::vector<Downloaded> downloaded;
  TrackMaker maker(job.converter);
  const size_t n = job.items.size();
  for (size_t i = 0; i < n; ++i) {
    if (window.CancelRequested()) break;
    const uint32_t entry = job.items[i].entry;
    if (const Downloaded* d = FindDownloaded(downloaded, entry)) {
      waves.push_back(d->path);
      continue;
    }
    RecordingRecord record;
    if (!link.GetRecordingInfo(entry, record.bytes())) return end.Finish(0);
    std::string path;
    Fd fd(CreateTemporaryFile(job.temp_folder, TemporaryStem(record), ".wav", &path));
    if (fd.get() < 0) return end.Fail(nullptr, "Create temporary file failed!");
    end.Track(path);
    const TrackOutcome made =
        maker.Make([&](uint32_t offset,
                       uint8_t* piece) { return link.ReadRecordingData(entry, offset, kPiece, piece) != 0; },
                   record, fd.get(), i, n, window);
    const bool closed = fd.Close();
    switch (made) {
      case TrackOutcome::Cancelled:
        break;
      case TrackOutcome::ReadFailed:
        return end.Fail("Failed\r\n", "Read data from LYR error!");
      case TrackOutcome::WriteFailed:
      case TrackOutcome::DecoderFailed:
        return end.Fail("Failed\r\n", "Copy error!");
      case TrackOutcome::Done:
        if (!closed) return end.Fail("Failed\r\n", "Copy error!");
        waves.push_back(path);
        downloaded.push_back({entry, path, {}});
        break;
    }
  }
  return BurnPhase(
      runner, window, end, true, [&] { return runner.StartAudioBurn(job.device, waves); },
      [] { return true; }, [&] { return MarkCopied(link, downloaded); });
}

// ---------------------------------------------------------------------------
// The data disc: the recordings exported as the copy job exports them, then
// the image made and written.

namespace {

// A recording exported for the disc, placed at every disc path it was put at.
struct DiscExport {
  uint32_t entry = 0;
  std::string extension;  // ".wav" or ".mp2"
  std::string path;
  std::string digest_path;  // empty without a digest file
};

std::string LastComponent(const std::string& path) {
  const size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The export sub-job: each recording once, through ExportRecording, into a
// private folder in the job's temporary folder, its header naming the file
// as the disc does; a recording placed again takes the same files.
class DiscExportJob {
 public:
  DiscExportJob(RecorderLink& link, const DataDiscJob& job, BurnReporter& window, JobEnd& end)
      : link_(link), job_(job), window_(window), end_(end) {
    options_.mpeg_format = job.mpeg_format;
    options_.pcm_format = job.pcm_format;
    options_.output_sha1 = job.output_sha1;
    options_.device_id = job.device_id;
  }

  // Empty when the layout is ready or cancel was asked for (the burn phase
  // ends such a job); otherwise how the job ended.
  std::optional<BurnJobResult> Run() {
    if (job_.files.empty()) return std::nullopt;
    Result<std::string> folder = MakeTemporaryFolder(job_.temp_folder, "disc-");
    if (!folder) return end_.Fail(nullptr, "Create temporary file failed!");
    end_.Track(folder.value());
    options_.folder = WithTrailingSeparator(folder.value());
    for (size_t i = 0; i < job_.files.size(); ++i) {
      if (window_.CancelRequested()) break;
      if (auto ended = Place(i, job_.files[i])) return ended;
    }
    return std::nullopt;
  }

  std::vector<GraftPoint> grafts;
  std::vector<DiscExport> exports;
  uint64_t total_bytes = 0;  // of each file once

 private:
  std::optional<BurnJobResult> Place(size_t i, const BURN_FILE& file) {
    const auto before = std::find_if(exports.begin(), exports.end(),
                                     [&](const DiscExport& e) { return e.entry == file.entry; });
    if (before != exports.end()) {
      PlaceAt(*before, file.disc_path);
      return std::nullopt;
    }
    RecordingRecord record;
    if (!link_.GetRecordingInfo(file.entry, record.bytes())) return end_.Finish(0);
    ExportRequest request;
    request.entry = file.entry;
    request.paths = names_.Claim(options_.folder, record, options_);
    const std::string extension = IsRawCopy(record, options_) ? ".mp2" : ".wav";
    request.header_name = LastComponent(file.disc_path) + extension;
    request.index = i;
    request.count = job_.files.size();
    request.piece_status = "Downloading...";
    const CopyResult exported = ExportRecording(link_, record, options_, request, window_);
    switch (exported.outcome) {
      case CopyOutcome::Copied:
        break;
      case CopyOutcome::Cancelled:
        return std::nullopt;
      case CopyOutcome::CreateFailed:
        return end_.Fail(nullptr, "Create temporary file failed!");
      case CopyOutcome::ReadFailed:
        return end_.Fail("Failed\r\n", "Read data from LYR error!");
      default:
        return end_.Fail("Failed\r\n", "Copy error!");
    }
    DiscExport done{file.entry, extension, exported.paths.target, {}};
    total_bytes += exported.file_size;
    if (exported.digest_written) {
      done.digest_path = exported.paths.digest;
      total_bytes += exported.digest.size();
    } else if (job_.output_sha1 && !window_.CancelRequested()) {
      // A disc asked for with digests does not go out without one.
      return end_.Fail("Failed\r\n", "Copy error!");
    }
    PlaceAt(done, file.disc_path);
    exports.push_back(std::move(done));
    return std::nullopt;
  }

  // Every place of a recording carries its digest beside it.
  void PlaceAt(const DiscExport& e, const std::string& disc_path) {
    grafts.push_back({e.path, disc_path + e.extension});
    if (!e.digest_path.empty()) grafts.push_back({e.digest_path, disc_path + ".txt"});
  }

  RecorderLink& link_;
  const DataDiscJob& job_;
  BurnReporter& window_;
  JobEnd& end_;
  CopyOptions options_;
  ExportNames names_;
};

// The imager and writer sub-job: the layout as an image file, or burned. The
// image is written beside its name and takes it only once complete: a full
// disk or a cancel never leaves a cut image under the name.
BurnJobResult WriteDataDisc(RecorderLink& link, BurnRunner& runner, const DataDiscJob& job,
                            BurnReporter& window, JobEnd& end, const DiscExportJob& files) {
  std::optional<PartialFile> image;
  if (!job.image_path.empty()) {
    Result<PartialFile> made = PartialFile::Create(job.image_path);
    if (!made) return end.Fail(nullptr, "Create temporary file failed!");
    image.emplace(std::move(made).value());
  }
  return BurnPhase(
      runner, window, end, false,
      [&] {
        if (image) return runner.StartImageFile(job.volume_label, files.grafts, image->path());
        return runner.StartDataBurn(job.device, job.volume_label, files.grafts, files.total_bytes,
                                    job.disc_kind);
      },
      [&] { return !image || static_cast<bool>(image->Commit(true)); },
      [&] { return MarkCopied(link, files.exports); });
}

}  // namespace

BurnJobResult RunDataDiscJob(RecorderLink& link, BurnRunner& runner, const DataDiscJob& job,
                             BurnReporter& window) {
  JobEnd end(window);
  window.ClearLog();
  // The image maker refuses a longer label: nothing is downloaded for it.
  if (job.volume_label.size() > kMaxVolumeLabel) {
    window.Message("The volume label is longer than " + std::to_string(kMaxVolumeLabel) + " characters.",
                   "Error", MessageIcon::Warning);
    return end.Finish(0);
  }
  window.AppendLog("Downloading files from LYR...");
  DiscExportJob files(link, job, window, end);
  if (auto ended = files.Run()) return *ended;
  const std::vector<ShortenedName> shortened = FitDiscNames(&files.grafts);
  for (const auto& s : shortened) window.AppendLog("Name shortened: " + s.from + " -> " + s.to + "\r\n");
  BurnJobResult result = WriteDataDisc(link, runner, job, window, end, files);
  result.shortened = shortened;
  return result;
}

}  // namespace lyr::burn
