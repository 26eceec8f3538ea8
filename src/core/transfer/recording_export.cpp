#include "transfer/recording_export.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "platform/last_error.h"
#include "platform/unique_fd.h"
#include "recordings/export_headers.h"
#include "transfer/partial_file.h"
#include "transfer/sha1.h"

namespace lyr {
namespace {

constexpr uint32_t kPiece = PieceAlignedWriter::kPiece;

// Header and data into the partial file: Copied when it is complete, else
// why not (with the error in `result`).
CopyOutcome WriteCopy(RecorderLink& link, const RecordingRecord& record, const CopyOptions& options,
                      const ExportRequest& request, JobReporter& ui, PartialFile& file, CopyResult& result,
                      size_t* header_size) {
  PieceAlignedWriter out(file.fd(), file.path());
  const std::vector<uint8_t> header = ExportHeader(record, options, request.header_name);
  *header_size = header.size();
  if (Status put = out.Put(header.data(), header.size()); !put) {
    result.error = put.error();
    return CopyOutcome::WriteFailed;
  }
  const uint32_t length = record.DataSize();
  const double k = options.output_sha1 ? 50 : 100;  // the digest takes the other half of a file's share
  const double n = static_cast<double>(request.count);
  const double i = static_cast<double>(request.index);
  for (uint64_t offset = 0; offset < length; offset += kPiece) {
    if (ui.CancelRequested()) return CopyOutcome::Cancelled;
    if (!link.ReadRecordingData(request.entry, static_cast<uint32_t>(offset), kPiece, out.Space())) {
      result.error =
          Error::Code(GetLastError(), "data of " + result.name + " at byte " + std::to_string(offset));
      (void)out.Finish();  // the .partial keeps everything that did come
      return CopyOutcome::ReadFailed;
    }
    const size_t want = static_cast<size_t>(std::min<uint64_t>(kPiece, length - offset));
    if (Status put = out.Commit(want); !put) {
      result.error = put.error();
      return CopyOutcome::WriteFailed;
    }
    const double done = static_cast<double>(offset + want);
    if (!request.piece_status.empty()) ui.SetStatus(request.piece_status);
    ui.SetFileProgress(static_cast<int>(done * 100 / length));
    ui.SetProgress(static_cast<int>(i * 100 / n + done * k / length / n));
  }
  if (ui.CancelRequested()) return CopyOutcome::Cancelled;
  if (Status finished = out.Finish(); !finished) {
    result.error = finished.error();
    return CopyOutcome::WriteFailed;
  }
  return CopyOutcome::Copied;
}

void WriteDigest(const ExportRequest& request, JobReporter& ui, CopyResult& result) {
  Result<std::string> digest = DigestFileText(ui, result.paths.target, static_cast<uint32_t>(request.index),
                                              static_cast<uint32_t>(request.count));
  if (!digest) {
    result.digest_error = digest.error();
    return;
  }
  result.digest = std::move(digest).value();
  if (Status written = WriteDigestFile(result.paths.digest, result.digest); !written) {
    result.digest_error = written.error();
    return;
  }
  result.digest_written = true;
}

}  // namespace

std::vector<uint8_t> ExportHeader(const RecordingRecord& record, const CopyOptions& options,
                                  const std::string& file_name) {
  if (IsRawCopy(record, options)) return {};
  const bool bwf = (record.IsMpegLayer2() ? options.mpeg_format : options.pcm_format) == ExportFormat::Bwf;
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

Status WriteDigestFile(const std::string& path, const std::string& text) {
  UniqueFd file(::open(path.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644));
  if (!file.valid()) {
    const int error = errno;
    return Error::Os(error, error == ELOOP ? path + " (a symbolic link)" : path);
  }
  struct stat st {};
  if (::fstat(file.get(), &st) != 0) return Error::Os(errno, path);
  if (!S_ISREG(st.st_mode)) return Error::Os(EINVAL, path + " (not a regular file)");
  Status written = ::ftruncate(file.get(), 0) == 0 ? Status{} : Status{Error::Os(errno, path)};
  if (written)
    written = WriteAll(file.get(), reinterpret_cast<const uint8_t*>(text.data()), text.size(), path);
  if (written && !file.Close()) written = Error::Os(errno, path);
  if (!written) ::unlink(path.c_str());
  return written;
}

CopyResult ExportRecording(RecorderLink& link, const RecordingRecord& record, const CopyOptions& options,
                           const ExportRequest& request, JobReporter& ui) {
  CopyResult result;
  result.entry = request.entry;
  result.name = record.Name();
  result.paths = request.paths;
  // The bytes go to the partial file and take the target's name only once
  // complete, so a copy cut short never passes for a whole one.
  Result<PartialFile> created = PartialFile::Create(result.paths.target);
  if (!created) {
    result.outcome = CopyOutcome::CreateFailed;
    result.error = created.error();
    return result;
  }
  PartialFile& file = created.value();
  size_t header_size = 0;
  result.outcome = WriteCopy(link, record, options, request, ui, file, result, &header_size);
  if (result.outcome == CopyOutcome::Cancelled) return result;  // the partial file goes
  if (result.outcome == CopyOutcome::Copied) {
    if (Status committed = file.Commit(request.replace); !committed) {
      result.outcome = CopyOutcome::WriteFailed;
      result.error = committed.error();
    }
  }
  if (result.outcome != CopyOutcome::Copied) {
    file.Keep();
    return result;
  }
  result.file_size = header_size + record.DataSize();
  if (options.output_sha1) WriteDigest(request, ui, result);
  return result;
}

}  // namespace lyr
