// lyrctl export: the copy job, writing recordings as WAVE, BWF or raw MPEG
// files with optional SHA-1 digest files.
#include <cstdio>
#include <map>
#include <nlohmann/json.hpp>

#include "cli_support.h"
#include "link/disk_scanner.h"
#include "recording_selection.h"
#include "terminal_window.h"
#include "transfer/transfer_jobs.h"

namespace lyrctl {
namespace {

struct ExportArgs {
  std::string folder = ".";
  lyr::ExportFormat mpeg_format = lyr::ExportFormat::Bwf;
  lyr::ExportFormat pcm_format = lyr::ExportFormat::Bwf;
  bool sha1 = false;
  bool all = false;
  bool yes = false;
  bool no = false;
  bool quiet = false;
  std::vector<std::string> recordings;
};

// The recorder's device id (the serial part of its USB instance) for the BWF
// originator reference, when discovery knows the disk.
std::string DeviceIdOf(const std::string& node) {
  for (const auto& r : lyr::FindRecorders(lyr::DefaultSysfsRoot()))
    if (r.node == node) return r.device_id;
  return {};
}

const std::map<std::string, lyr::ExportFormat> kMpegFormats = {
    {"wav", lyr::ExportFormat::Wave}, {"bwf", lyr::ExportFormat::Bwf}, {"raw", lyr::ExportFormat::Raw}};
const std::map<std::string, lyr::ExportFormat> kPcmFormats = {{"wav", lyr::ExportFormat::Wave},
                                                              {"bwf", lyr::ExportFormat::Bwf}};

const char* OutcomeText(lyr::CopyOutcome outcome) {
  switch (outcome) {
    case lyr::CopyOutcome::Copied: return "copied";
    case lyr::CopyOutcome::Declined: return "kept existing file";
    case lyr::CopyOutcome::CreateFailed: return "could not create the file";
    case lyr::CopyOutcome::WriteFailed: return "write failed, bytes kept as .partial";
    case lyr::CopyOutcome::ReadFailed: return "read from the recorder failed, bytes kept as .partial";
    case lyr::CopyOutcome::MarkFailed: return "copied, but the recorder did not take the copied mark";
    case lyr::CopyOutcome::Cancelled: return "cancelled, file removed";
    case lyr::CopyOutcome::InfoFailed: return "record could not be read";
  }
  return "";
}

// What went wrong with one recording of the job, for people: the message the
// job showed (the system's own text), then the file and the system's reason.
// Empty when the recording was exported, or kept at the user's word.
std::string Problem(const lyr::CopyResult& r, const ExportArgs& args, bool kept_by_default) {
  switch (r.outcome) {
    case lyr::CopyOutcome::Copied:
      if (!args.sha1 || r.digest_written) return {};
      return "digest file not written: " +
             (r.digest_error ? r.digest_error->Message() : r.paths.digest + ": unknown reason");
    case lyr::CopyOutcome::Declined:
      if (!kept_by_default) return {};
      return "not exported: " + r.paths.target + " exists (no terminal to ask; use --yes or --no)";
    case lyr::CopyOutcome::Cancelled:
      return {};  // the cancel is reported for the whole job
    default:
      break;
  }
  const char* shown = lyr::CopyOutcomeMessage(r.outcome);
  std::string text = shown != nullptr ? shown : OutcomeText(r.outcome);
  if (r.error) text += " " + r.error->Message();
  return text;
}

void RunExport(const GlobalOptions& options, const ExportArgs& args) {
  if (args.all == !args.recordings.empty())
    throw CommandFailure{"name the recordings to export, or use --all", 2};
  if (args.yes && args.no) throw CommandFailure{"--yes and --no exclude each other", 2};
  if (lyr::Status made = lyr::MakeExportFolder(args.folder); !made)
    throw CommandFailure{"cannot use the folder " + made.error().Message()};

  RecorderSession session = OpenRecorderSession(options);
  lyr::RecordingCatalogue catalogue(*session.link);
  LoadWholeCatalogue(catalogue);
  const auto rows = SelectRecordings(catalogue, args.all, args.recordings);

  lyr::CopyOptions copy;
  copy.folder = lyr::WithTrailingSeparator(args.folder);
  copy.mpeg_format = args.mpeg_format;
  copy.pcm_format = args.pcm_format;
  copy.output_sha1 = args.sha1;
  copy.device_id = DeviceIdOf(session.device_path);
  lyr::JobQueue queue;
  uint64_t total = 0;
  for (const auto* row : rows) {
    queue.entries.push_back(row->entry);
    total += row->record.DataSize();
  }

  TerminalWindow window(args.yes  ? Answer::Yes
                        : args.no ? Answer::No
                                  : Answer::AskTerminal,
                        total, args.quiet || options.json);
  window.SetStatus(lyr::kJobTitle);
  std::vector<lyr::CopyResult> results;
  const int result = RunJobOnTerminal(window, [&](lyr::JobReporter& reporter) {
    return lyr::CopyJob(*session.link, queue, copy, reporter, &results);
  });

  // Without a terminal every question was answered No by default: a file
  // kept that way means the recording was not exported.
  const bool kept_by_default = window.default_answers() > 0;
  std::vector<std::string> missed;
  nlohmann::json out = nlohmann::json::array();
  for (size_t i = 0; i < rows.size(); ++i) {
    const lyr::CopyResult* r = i < results.size() ? &results[i] : nullptr;
    const std::string& name = r != nullptr ? r->name : rows[i]->name;
    const std::string problem =
        r == nullptr ? "not exported: the job ended before it" : Problem(*r, args, kept_by_default);
    const bool cancelled = r != nullptr && r->outcome == lyr::CopyOutcome::Cancelled;
    if (!problem.empty() || cancelled) missed.push_back(name);
    if (!problem.empty()) std::fprintf(stderr, "%s: %s\n", name.c_str(), problem.c_str());
    if (options.json) {
      const bool digest = r != nullptr && r->digest_written;
      out.push_back({{"entry", rows[i]->entry},
                     {"name", name},
                     {"file", r != nullptr ? nlohmann::json(r->paths.target) : nlohmann::json(nullptr)},
                     {"outcome", r != nullptr ? OutcomeText(r->outcome) : "not reached"},
                     {"copied", r != nullptr && r->outcome == lyr::CopyOutcome::Copied},
                     {"error", problem.empty() ? nlohmann::json(nullptr) : nlohmann::json(problem)},
                     {"sha1", digest ? nlohmann::json(r->digest) : nlohmann::json(nullptr)},
                     {"sha1_file", digest ? nlohmann::json(r->paths.digest) : nlohmann::json(nullptr)}});
    } else if (!args.quiet && r != nullptr) {
      std::printf("%-12s %s: %s%s%s\n", name.c_str(), r->paths.target.c_str(), OutcomeText(r->outcome),
                  r->digest_written ? ", sha1 " : "", r->digest_written ? r->digest.c_str() : "");
    }
  }
  const bool everything = result == lyr::kJobSucceeded && missed.empty();
  if (options.json)
    std::printf("%s\n", nlohmann::json{{"exports", out}, {"complete", everything}}.dump(2).c_str());
  if (result == lyr::kJobCancelled) throw CommandFailure{"export cancelled", 130};
  if (!everything) {
    std::string names;
    for (const auto& n : missed) names += (names.empty() ? "" : ", ") + n;
    throw CommandFailure{"not every recording was exported" + (names.empty() ? "" : ": " + names)};
  }
}

LYRCTL_COMMAND([](CLI::App& app, GlobalOptions& options) {
  static ExportArgs args;
  CLI::App* cmd = app.add_subcommand("export", "Copy recordings to a folder as WAVE, BWF or raw MPEG files");
  cmd->add_option("--to", args.folder, "Folder for the files (default: the current folder)");
  cmd->add_option("--mpeg-format", args.mpeg_format,
                  "Format of MPEG recordings: wav, bwf or raw (default: bwf)")
      ->transform(CLI::CheckedTransformer(kMpegFormats));
  cmd->add_option("--pcm-format", args.pcm_format, "Format of PCM recordings: wav or bwf (default: bwf)")
      ->transform(CLI::CheckedTransformer(kPcmFormats));
  cmd->add_flag("--sha1", args.sha1, "Write a SHA-1 digest file (.txt) beside each file");
  cmd->add_flag("--all", args.all, "Export every recording");
  cmd->add_flag("--yes", args.yes, "Replace existing files without asking");
  cmd->add_flag("--no", args.no, "Keep existing files without asking");
  cmd->add_flag("--quiet", args.quiet, "Print only errors");
  cmd->add_option("RECORDING", args.recordings, "Entry numbers or names of the recordings");
  cmd->callback([&options] { RunExport(options, args); });
});

}  // namespace
}  // namespace lyrctl
