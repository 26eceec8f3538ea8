#include "transfer/transfer_jobs.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/byte_order.h"
#include "platform/last_error.h"
#include "recordings/export_headers.h"
#include "transfer/sha1.h"

namespace lyr {
namespace {

constexpr uint32_t kPiece = 65536;
constexpr int kDeletePolls = 1000;

// A file descriptor that closes itself.
class File {
 public:
  explicit File(int fd = -1) : fd_(fd) {}
  ~File() { Close(); }
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  int fd() const { return fd_; }
  bool Close() {
    if (fd_ < 0) return true;
    const bool ok = ::close(fd_) == 0;
    fd_ = -1;
    return ok;
  }

 private:
  int fd_;
};

// Bytes written, going on after short writes; less than asked on failure.
size_t WriteAll(int fd, const uint8_t* data, size_t length) {
  size_t done = 0;
  while (done < length) {
    const ssize_t n = ::write(fd, data + done, length - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  return done;
}

// Writes a stream in whole pieces at file offsets that are multiples of the
// piece size, whatever the length of the header in front of the data: a
// stream shifted by a header's 44 bytes touches two page-cache blocks with
// every write and costs the file system nearly twice as much.
class PieceAlignedWriter {
 public:
  explicit PieceAlignedWriter(int fd) : fd_(fd), buffer_(2 * kPiece) {}
  // Room for the next piece of up to kPiece bytes.
  uint8_t* Space() { return buffer_.data() + fill_; }
  // Takes n bytes placed at Space(); false once a write failed.
  bool Commit(size_t n) {
    fill_ += n;
    if (fill_ < kPiece) return true;
    if (WriteAll(fd_, buffer_.data(), kPiece) != kPiece) return false;
    fill_ -= kPiece;
    std::memmove(buffer_.data(), buffer_.data() + kPiece, fill_);
    return true;
  }
  bool Put(const uint8_t* data, size_t length) {
    while (length > 0) {
      const size_t take = std::min<size_t>(length, kPiece);
      std::memcpy(Space(), data, take);
      if (!Commit(take)) return false;
      data += take;
      length -= take;
    }
    return true;
  }
  // Writes what is left.
  bool Finish() {
    const size_t rest = fill_;
    fill_ = 0;
    return WriteAll(fd_, buffer_.data(), rest) == rest;
  }

 private:
  int fd_;
  std::vector<uint8_t> buffer_;
  size_t fill_ = 0;
};

bool Exists(const std::string& path) {
  File f(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  return f.fd() >= 0;
}

// The job's own files are never written through a link someone left in the
// folder: that could put them anywhere.
int CreateForWriting(const std::string& path) {
  return ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644);
}

bool WriteDigestFile(const std::string& path, const std::string& text) {
  File f(CreateForWriting(path));
  if (f.fd() < 0) return false;
  const bool written =
      WriteAll(f.fd(), reinterpret_cast<const uint8_t*>(text.data()), text.size()) == text.size();
  return f.Close() && written;
}

// The header before the data, empty for a raw MPEG copy.
std::vector<uint8_t> ExportHeader(const RecordingRecord& record, const CopyOptions& options,
                                  const std::string& file_name) {
  const bool mpeg = record.IsMpegLayer2();
  if (mpeg && options.mpeg_format == kExportRaw) return {};
  const bool bwf = (mpeg ? options.mpeg_format : options.pcm_format) == kExportBwf;
  uint32_t size = 0;
  auto build = [&](uint8_t* buffer) {
    return bwf ? BuildBwfHeader(record, buffer, &size, file_name, options.device_id)
               : BuildWaveHeader(record, buffer, &size, file_name);
  };
  build(nullptr);
  std::vector<uint8_t> header(size);
  if (size != 0) build(header.data());
  return header;
}

void Warn(JobReporter& ui, const char* text) { ui.Message(text, "Error", MessageIcon::Warning); }

}  // namespace

std::string WithTrailingSeparator(const std::string& folder) {
  if (!folder.empty() && folder.back() == '/') return folder;
  return folder + '/';
}

std::string SafeRecordingFileName(const std::string& name) {
  std::string safe = name;
  bool leading = true;
  for (char& ch : safe) {
    const auto c = static_cast<unsigned char>(ch);
    if (c == '/' || c == '\\' || c < 0x20 || c == 0x7F || (leading && c == '.')) {
      ch = '_';
    } else {
      leading = false;
    }
  }
  return safe.empty() ? "_" : safe;
}

ExportPaths ExportPathsFor(const std::string& folder, const RecordingRecord& record,
                           const CopyOptions& options) {
  std::string stem = SafeRecordingFileName(record.Name());
  // A safe name has no separator and does not start with a dot, so the cut
  // always leaves a non-empty stem.
  const size_t dot = stem.rfind('.');
  if (dot != std::string::npos) stem.resize(dot);
  const bool raw = record.IsMpegLayer2() && options.mpeg_format == kExportRaw;
  ExportPaths paths;
  paths.file_name = stem + (raw ? ".mp2" : ".wav");
  const std::string dir = WithTrailingSeparator(folder);
  paths.target = dir + paths.file_name;
  paths.digest = dir + stem + ".txt";
  return paths;
}

bool CopyJob(RecorderLink& link, JobQueue& queue, const CopyOptions& options, JobReporter& window,
             std::vector<CopyResult>* results) {
  GatedReporter ui(window);
  ui.SetStatus("Preparing...");
  ui.SetProgress(0);
  const size_t n = queue.entries.size();
  const double k = options.output_sha1 ? 50 : 100;  // the digest takes the other half of a file's share
  auto report = [&](CopyResult result) {
    if (results != nullptr) results->push_back(std::move(result));
  };

  for (size_t i = 0; i < n; ++i) {
    if (ui.CancelRequested()) {
      SetLastError(kErrorCancelled);
      return false;
    }
    CopyResult result;
    result.entry = queue.entries.front();
    queue.entries.pop_front();
    RecordingRecord record;
    if (!link.GetRecordingInfo(result.entry, record.bytes())) {
      report(result);
      return false;
    }
    result.name = record.Name();
    ui.SetStatus("Copying... " + result.name);
    ui.SetProgress(static_cast<int>(i * 100 / n));

    result.paths = ExportPathsFor(options.folder, record, options);
    const std::string& target = result.paths.target;
    const std::string partial = PartialPath(target);
    if (Exists(target) &&
        !ui.Ask("Would you like to replace the existing file with this one?", "Confirm File Replace")) {
      result.outcome = CopyOutcome::Declined;
      report(result);
      continue;
    }
    // The bytes go to the partial file and take the target's name only once
    // complete, so a copy cut short never passes for a whole one.
    File file(CreateForWriting(partial));
    if (file.fd() < 0) {
      Warn(ui, "Create local file error!");
      result.outcome = CopyOutcome::CreateFailed;
      report(result);
      continue;
    }

    bool write_failed = false;
    PieceAlignedWriter out(file.fd());
    const std::vector<uint8_t> header = ExportHeader(record, options, result.paths.file_name);
    if (!out.Put(header.data(), header.size())) {
      Warn(ui, "Write local file error!");
      write_failed = true;
    }
    const uint32_t length = record.DataSize();
    for (uint64_t offset = 0; !write_failed && offset < length && !ui.CancelRequested(); offset += kPiece) {
      if (!link.ReadRecordingData(result.entry, static_cast<uint32_t>(offset), kPiece, out.Space())) {
        Warn(ui, "Read file error!");
        out.Finish();  // the .partial keeps everything that did come
        file.Close();
        result.outcome = CopyOutcome::ReadFailed;
        report(result);
        SetLastError(kErrorConnectionUnavail);
        return false;
      }
      const size_t want = static_cast<size_t>(std::min<uint64_t>(kPiece, length - offset));
      if (!out.Commit(want)) {
        Warn(ui, "Write local file error!");
        write_failed = true;
        break;
      }
      const double done = static_cast<double>(offset + want);
      ui.SetFileProgress(static_cast<int>(done * 100 / length));
      ui.SetProgress(static_cast<int>(static_cast<double>(i) * 100 / static_cast<double>(n) +
                                      done * k / length / static_cast<double>(n)));
    }
    if (!write_failed && !ui.CancelRequested() && !out.Finish()) {
      Warn(ui, "Write local file error!");
      write_failed = true;
    }
    if (!file.Close() && !write_failed) {
      Warn(ui, "Write local file error!");
      write_failed = true;
    }
    if (ui.CancelRequested()) {
      ::unlink(partial.c_str());
      result.outcome = CopyOutcome::Cancelled;
      report(result);
      continue;  // the check at the top ends the job
    }
    if (write_failed || ::rename(partial.c_str(), target.c_str()) != 0) {
      if (!write_failed) Warn(ui, "Write local file error!");
      result.outcome = CopyOutcome::WriteFailed;
      report(result);
      continue;
    }

    if (!link.MarkRecordingCopied(result.entry)) {
      Warn(ui, "Access LYR Failed!");
      result.outcome = CopyOutcome::MarkFailed;
      report(result);
      return false;
    }
    result.outcome = CopyOutcome::Copied;
    if (options.output_sha1 &&
        DigestFile(ui, target, static_cast<uint32_t>(i), static_cast<uint32_t>(n), &result.digest)) {
      result.digest_written = WriteDigestFile(result.paths.digest, result.digest);
    }
    report(result);
  }
  if (ui.CancelRequested()) {
    SetLastError(kErrorCancelled);
    return false;
  }
  return true;
}

bool DeleteJob(RecorderLink& link, JobQueue& queue, JobReporter& window) {
  GatedReporter ui(window);
  ui.SetStatus("Preparing...");
  ui.SetProgress(0);
  const size_t n = queue.entries.size();
  for (size_t i = 0; i < n && !ui.CancelRequested(); ++i) {
    const uint32_t entry = queue.entries.front();
    queue.entries.pop_front();
    RecordingRecord record;
    if (!link.GetRecordingInfo(entry, record.bytes())) return false;
    ui.SetStatus("Deleting... " + record.Name());
    ui.SetProgress(static_cast<int>(i * 100 / n));
    if (!link.DeleteRecording(entry)) return false;

    // The recorder deletes in the background; its memory status tells when
    // it is done and whether it failed.
    bool failure_shown = false;
    for (int poll = 0; poll < kDeletePolls; ++poll) {
      MemoryStatusRecord status{};
      if (!link.GetMemoryStatus(status)) return false;
      if (GetU32(status.data() + protocol::kMemLastOpFailed) != 0) {
        // Told once per recording, not on every poll that still reports it.
        if (!failure_shown)
          ui.Message("There is an error occured in deleting file!", "Error", MessageIcon::Error);
        failure_shown = true;
        continue;
      }
      if (GetU16(status.data() + protocol::kMemBusy) == 1) continue;
      queue.done.push_back(entry);
      break;
    }
  }
  return true;
}

}  // namespace lyr
