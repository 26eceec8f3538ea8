#pragma once
// One recording into one file, the way every job that saves recordings does
// it: the copy job, lyrctl ingest and the data disc, so that their files are
// the same bytes.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "link/recorder_link.h"
#include "recordings/recording_record.h"
#include "job/job_reporter.h"
#include "transfer/transfer_jobs.h"

namespace lyr {

// The header before the data for the chosen format, naming `file_name`
// inside it; empty for a raw MPEG copy.
std::vector<uint8_t> ExportHeader(const RecordingRecord& record, const CopyOptions& options,
                                  const std::string& file_name);

// Writes the digest text as the whole of `path`. A link in its place is
// neither followed nor replaced; a file this leaves incomplete (disk full)
// is removed, so no digest file ever holds less than the digest.
Status WriteDigestFile(const std::string& path, const std::string& text);

struct ExportRequest {
  uint32_t entry = 0;
  ExportPaths paths;        // the file, its digest file (with options.output_sha1)
  std::string header_name;  // the file name the header carries
  bool replace = false;     // the file may take the place of an existing one
  // The file's share of the job's overall bar: file `index` of `count`.
  size_t index = 0;
  size_t count = 1;
  std::string piece_status;  // shown with every piece read, when not empty
};

// Reads the recording from the recorder piece by piece into
// "<target>.partial" behind its header, gives the file its name once it is
// complete, then with options.output_sha1 writes its digest file. Per piece
// it reports the file's progress and its share of the overall bar (half of
// it when a digest follows, which reports the other half), and stops when
// cancel is asked for. The outcome is Copied, CreateFailed, WriteFailed
// (bytes kept as .partial), ReadFailed (the same; the error carries the
// link's last error) or Cancelled (file removed); a digest that could not
// be made leaves the copy Copied with `digest_error` set. Shows no message:
// the caller has its own texts.
CopyResult ExportRecording(RecorderLink& link, const RecordingRecord& record, const CopyOptions& options,
                           const ExportRequest& request, JobReporter& ui);

}  // namespace lyr
