#pragma once
#include <cstdint>
#include <deque>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "link/recorder_link.h"
#include "platform/result.h"
#include "recordings/recording_record.h"
#include "job/job_reporter.h"
#include "transfer/partial_file.h"

namespace lyr {

// Texts of the copy and delete commands around their jobs.
inline constexpr const char* kJobTitle = "Please wait...";
inline constexpr const char* kDeleteQuestion = "Are you sure to delete all files selected?";
inline constexpr const char* kDeleteQuestionCaption = "Warning";

// Export formats of the copy page, numbered as its choices. PCM recordings
// are never saved raw: Raw gives them the plain WAVE header.
enum class ExportFormat { Wave = 0, Bwf = 1, Raw = 2 };

// The copy page's choices, read once when the copy command starts.
struct CopyOptions {
  std::string folder;                            // where the files go
  ExportFormat mpeg_format = ExportFormat::Bwf;  // for MPEG-1 Layer II recordings
  ExportFormat pcm_format = ExportFormat::Bwf;   // for every other recording
  bool output_sha1 = false;                      // write "<name>.txt" with the digest beside each copy
  std::string device_id;                         // the recorder's id, written into BWF headers
};

// The entries a job works through, front first, and the entries a delete
// job removed. The command fills the queue before the job and reads the done
// list after it; the job empties the queue.
struct JobQueue {
  std::deque<uint32_t> entries;
  std::vector<uint32_t> done;
  void Clear() {
    entries.clear();
    done.clear();
  }
};

// The folder with a trailing separator, ready to take a file name. An empty
// folder is the current one ("./"), never the root.
std::string WithTrailingSeparator(const std::string& folder);

// An MPEG recording saved as its bare stream: no header, ".mp2".
bool IsRawCopy(const RecordingRecord& record, const CopyOptions& options);

// Makes the export folder and the folders above it where missing. The error
// names the folder and the system's reason (a file in the way is "Not a
// directory").
Status MakeExportFolder(const std::string& folder);

// A recording name (Latin-1, as the recorder keeps it) made safe as a UTF-8
// file name: separators, control characters (C0, DEL, C1) and leading dots
// become "_", so that a name can never climb out of the chosen folder or hide
// there; an empty name becomes "_".
std::string SafeRecordingFileName(const std::string& name);

// Where the copy of a recording goes: the name without the part after its
// last dot, then ".mp2" for an MPEG recording saved raw, else ".wav"; the
// digest goes to the same stem with ".txt".
struct ExportPaths {
  std::string target;
  std::string digest;
  std::string file_name;  // bare name of the target
};
ExportPaths ExportPathsFor(const std::string& folder, const RecordingRecord& record,
                           const CopyOptions& options);

// The file names one copy job has given out, so that two recordings never
// share a file (names alike, names that become the same file name, names
// that differ only after their last dot): a stem given out before gets "_2",
// "_3", ... The copy and its digest share the stem, so each pair stays
// together. Stems are compared without case, as the folder may be on a
// file system that ignores it.
class ExportNames {
 public:
  ExportPaths Claim(const std::string& folder, const RecordingRecord& record, const CopyOptions& options);

 private:
  std::set<std::string> taken_;  // stems, folded to lower case
};

// What the copy job did with each recording it took from the queue.
enum class CopyOutcome {
  Copied,        // complete file, marked copied on the recorder
  Declined,      // the target existed and the user kept it
  CreateFailed,  // "Create local file error!"
  WriteFailed,   // "Write local file error!": bytes kept as .partial
  ReadFailed,    // "Read file error!": bytes kept as .partial, job ended
  MarkFailed,    // complete file, but the copied mark failed: job ended
  Cancelled,     // the file being written was removed
  InfoFailed,    // the record could not be read: job ended
};
// The message the job shows for an outcome ("Read file error!"), or null.
const char* CopyOutcomeMessage(CopyOutcome outcome);

struct CopyResult {
  uint32_t entry = 0;
  std::string name;
  ExportPaths paths;
  CopyOutcome outcome = CopyOutcome::InfoFailed;
  // Why a recording was not copied: the file or what was read, and the
  // system's reason. Empty for Copied, Declined and Cancelled.
  std::optional<Error> error;
  uint64_t file_size = 0;       // bytes of the complete file (Copied)
  bool digest_written = false;  // with Output SHA1: "<stem>.txt" holds the digest
  std::string digest;
  // With Output SHA1, why a copied recording has no digest file.
  std::optional<Error> digest_error;
};

// Copies the queued recordings into the folder of `options`. True when the
// queue was worked through (recordings skipped or failed on the PC side do
// not end the job; see `results`); false when cancelled (last error 1223) or
// when the recorder failed (record, data or copied mark).
bool CopyJob(RecorderLink& link, JobQueue& queue, const CopyOptions& options, JobReporter& window,
             std::vector<CopyResult>* results = nullptr);

// Deletes the queued recordings; each entry the recorder confirmed gone is
// added to the done list. False when an exchange with the recorder failed;
// true otherwise, also when cancelled.
bool DeleteJob(RecorderLink& link, JobQueue& queue, JobReporter& window);

// Which of `entries` the recorder lists now, read afresh. An entry a delete
// job left out of its done list (its busy polls ran out, or the job ended
// early) may be gone all the same.
Result<std::vector<uint32_t>> EntriesStillListed(RecorderLink& link, std::span<const uint32_t> entries);

}  // namespace lyr
