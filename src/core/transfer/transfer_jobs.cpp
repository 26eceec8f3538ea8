#include "transfer/transfer_jobs.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <vector>

#include "platform/byte_order.h"
#include "platform/last_error.h"
#include "recordings/device_text.h"
#include "recordings/recording_catalogue.h"
#include "transfer/recording_export.h"

namespace lyr {
namespace {

constexpr int kDeletePolls = 1000;

// Anything under the name counts, a link that leads nowhere too: the copy
// would take its place.
bool Exists(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0;
}

// The file name of a recording without its extension.
std::string ExportStem(const RecordingRecord& record) {
  std::string stem = SafeRecordingFileName(record.Name());
  // A safe name has no separator and does not start with a dot, so the cut
  // always leaves a non-empty stem.
  const size_t dot = stem.rfind('.');
  if (dot != std::string::npos) stem.resize(dot);
  return stem;
}

ExportPaths PathsForStem(const std::string& folder, const std::string& stem, bool raw) {
  ExportPaths paths;
  paths.file_name = stem + (raw ? ".mp2" : ".wav");
  const std::string dir = WithTrailingSeparator(folder);
  paths.target = dir + paths.file_name;
  paths.digest = dir + stem + ".txt";
  return paths;
}

std::string Folded(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// A failed exchange with the recorder, with the last error it set.
Error RecorderError(std::string what) { return Error::Code(GetLastError(), std::move(what)); }

// One copy job: the recordings it copies, one by one, and what they share.
class CopyRun {
 public:
  CopyRun(RecorderLink& link, const CopyOptions& options, JobReporter& ui, size_t count)
      : link_(link), options_(options), ui_(ui), n_(count) {}

  // Copies recording `i` of the job, the entry in `result`. False when the
  // job must end: the recorder failed (last error set by the exchange, or
  // 1201 for a data read).
  bool CopyRecording(size_t i, CopyResult& result);

 private:
  void Warn(CopyOutcome outcome) { ui_.Message(CopyOutcomeMessage(outcome), "Error", MessageIcon::Warning); }

  RecorderLink& link_;
  const CopyOptions& options_;
  JobReporter& ui_;
  const size_t n_;
  ExportNames names_;
};

bool CopyRun::CopyRecording(size_t i, CopyResult& result) {
  RecordingRecord record;
  if (!link_.GetRecordingInfo(result.entry, record.bytes())) {
    result.error = RecorderError("record of entry " + std::to_string(result.entry));
    return false;
  }
  result.name = record.Name();
  ui_.SetStatus("Copying... " + result.name);
  ui_.SetProgress(static_cast<int>(i * 100 / n_));

  result.paths = names_.Claim(options_.folder, record, options_);
  // A digest file of the name is replaced with the copy, so it is asked
  // about too.
  const bool replace = Exists(result.paths.target) || (options_.output_sha1 && Exists(result.paths.digest));
  if (replace &&
      !ui_.AskAbout("Would you like to replace the existing file with this one?", "Confirm File Replace",
                    Exists(result.paths.target) ? result.paths.target : result.paths.digest)) {
    // A question closed by the cancel is no answer: nothing was kept by choice.
    result.outcome = ui_.CancelRequested() ? CopyOutcome::Cancelled : CopyOutcome::Declined;
    return true;
  }
  ExportRequest request;
  request.entry = result.entry;
  request.paths = result.paths;
  request.header_name = result.paths.file_name;
  request.replace = replace;
  request.index = i;
  request.count = n_;
  result = ExportRecording(link_, record, options_, request, ui_);
  switch (result.outcome) {
    case CopyOutcome::Cancelled:
      return true;  // the check at the top ends the job
    case CopyOutcome::ReadFailed:
      Warn(result.outcome);
      SetLastError(kErrorConnectionUnavail);
      return false;
    case CopyOutcome::Copied:
      break;
    default:
      Warn(result.outcome);
      return true;  // the recording is left out; the job goes on
  }
  if (!link_.MarkRecordingCopied(result.entry)) {
    Warn(CopyOutcome::MarkFailed);
    result.outcome = CopyOutcome::MarkFailed;
    result.error = RecorderError("copied mark of " + result.name);
    return false;
  }
  return true;
}

}  // namespace

const char* CopyOutcomeMessage(CopyOutcome outcome) {
  switch (outcome) {
    case CopyOutcome::CreateFailed:
      return "Create local file error!";
    case CopyOutcome::WriteFailed:
      return "Write local file error!";
    case CopyOutcome::ReadFailed:
      return "Read file error!";
    case CopyOutcome::MarkFailed:
      return "Access LYR Failed!";
    case CopyOutcome::Copied:
    case CopyOutcome::Declined:
    case CopyOutcome::Cancelled:
    case CopyOutcome::InfoFailed:
      break;
  }
  return nullptr;
}

bool IsRawCopy(const RecordingRecord& record, const CopyOptions& options) {
  return record.IsMpegLayer2() && options.mpeg_format == ExportFormat::Raw;
}

std::string WithTrailingSeparator(const std::string& folder) {
  if (folder.empty()) return "./";
  return folder.back() == '/' ? folder : folder + '/';
}

Status MakeExportFolder(const std::string& folder) {
  struct stat st {};
  if (::stat(folder.c_str(), &st) == 0) return S_ISDIR(st.st_mode) ? Status{} : Error::Os(ENOTDIR, folder);
  // Each folder on the way, from the top; each that is there must be one.
  for (size_t end = folder.find('/', 1);; end = folder.find('/', end + 1)) {
    const std::string part = folder.substr(0, end);
    if (!part.empty() && ::mkdir(part.c_str(), 0777) != 0) {
      if (errno != EEXIST) return Error::Os(errno, folder);
      if (::stat(part.c_str(), &st) != 0) return Error::Os(errno, folder);
      if (!S_ISDIR(st.st_mode)) return Error::Os(ENOTDIR, folder);
    }
    if (end == std::string::npos) return {};
  }
}

std::string SafeRecordingFileName(const std::string& name) {
  std::string safe = name;
  bool leading = true;
  for (char& ch : safe) {
    const auto c = static_cast<unsigned char>(ch);
    if (c == '/' || c == '\\' || IsLatin1Control(c) || (leading && c == '.')) {
      ch = '_';
    } else {
      leading = false;
    }
  }
  return safe.empty() ? "_" : Latin1ToUtf8(safe);
}

ExportPaths ExportPathsFor(const std::string& folder, const RecordingRecord& record,
                           const CopyOptions& options) {
  return PathsForStem(folder, ExportStem(record), IsRawCopy(record, options));
}

ExportPaths ExportNames::Claim(const std::string& folder, const RecordingRecord& record,
                               const CopyOptions& options) {
  const std::string stem = ExportStem(record);
  std::string name = stem;
  for (int n = 2; !taken_.insert(Folded(name)).second; ++n) name = stem + "_" + std::to_string(n);
  return PathsForStem(folder, name, IsRawCopy(record, options));
}

bool CopyJob(RecorderLink& link, JobQueue& queue, const CopyOptions& options, JobReporter& window,
             std::vector<CopyResult>* results) {
  GatedReporter ui(window);
  ui.SetStatus("Preparing...");
  ui.SetProgress(0);
  const size_t n = queue.entries.size();
  CopyRun run(link, options, ui, n);
  for (size_t i = 0; i < n; ++i) {
    if (ui.CancelRequested()) {
      SetLastError(kErrorCancelled);
      return false;
    }
    CopyResult result;
    result.entry = queue.entries.front();
    queue.entries.pop_front();
    const bool go_on = run.CopyRecording(i, result);
    if (results != nullptr) results->push_back(std::move(result));
    if (!go_on) return false;
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

Result<std::vector<uint32_t>> EntriesStillListed(RecorderLink& link, std::span<const uint32_t> entries) {
  RecordingCatalogue catalogue(link);
  if (!catalogue.RefreshRecordings()) return RecorderError("recording list");
  std::vector<uint32_t> listed;
  for (const uint32_t entry : entries)
    if (catalogue.FindEntry(entry) >= 0) listed.push_back(entry);
  return listed;
}

}  // namespace lyr
