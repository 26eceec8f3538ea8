// lyrctl export: the copy job, writing recordings as WAVE, BWF or raw MPEG
// files with optional SHA-1 digest files.
#include <unistd.h>

#include <cstdio>
#include <map>
#include <nlohmann/json.hpp>

#include "cli_support.h"
#include "recording_selection.h"
#include "terminal_window.h"
#include "text_output.h"
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

const char* OutcomeText(lyr::CopyOutcome outcome) {
  switch (outcome) {
    case lyr::CopyOutcome::Copied:
      return "copied";
    case lyr::CopyOutcome::Declined:
      return "kept existing file";
    case lyr::CopyOutcome::CreateFailed:
      return "could not create the file";
    case lyr::CopyOutcome::WriteFailed:
      return "write failed, bytes kept as .partial";
    case lyr::CopyOutcome::ReadFailed:
      return "read from the recorder failed, bytes kept as .partial";
    case lyr::CopyOutcome::MarkFailed:
      return "copied, but the recorder did not take the copied mark";
    case lyr::CopyOutcome::Cancelled:
      return "cancelled, nothing written";
    case lyr::CopyOutcome::InfoFailed:
      return "record could not be read";
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

lyr::Status RunExport(const GlobalOptions& options, const ExportArgs& args) {
  if (!args.all && args.recordings.empty()) return UsageError("name the recordings to export, or use --all");
  if (lyr::Status made = lyr::MakeExportFolder(args.folder); !made)
    return Failure("cannot use the folder " + LocalShownText(made.error().Message()));

  LYR_TRY_ASSIGN(RecorderSession session, OpenRecorderSession(options));
  lyr::RecordingCatalogue catalogue(*session.link);
  LYR_TRY(LoadWholeCatalogue(catalogue));
  LYR_TRY_ASSIGN(const auto rows, SelectRecordings(catalogue, args.all, args.recordings));

  lyr::CopyOptions copy;
  copy.folder = lyr::WithTrailingSeparator(args.folder);
  copy.mpeg_format = args.mpeg_format;
  copy.pcm_format = args.pcm_format;
  copy.output_sha1 = args.sha1;
  copy.device_id = RecorderDeviceId(session.device_path);
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
    if (!problem.empty())
      std::fprintf(stderr, "%s: %s\n", DeviceShownText(name).c_str(), LocalShownText(problem).c_str());
    if (options.json) {
      const bool digest = r != nullptr && r->digest_written;
      out.push_back(
          {{"entry", rows[i]->entry},
           {"name", DeviceJsonText(name)},
           {"file", r != nullptr ? nlohmann::json(LocalJsonText(r->paths.target)) : nlohmann::json(nullptr)},
           {"outcome", r != nullptr ? OutcomeText(r->outcome) : "not reached"},
           {"copied", r != nullptr && r->outcome == lyr::CopyOutcome::Copied},
           {"error", problem.empty() ? nlohmann::json(nullptr) : nlohmann::json(LocalJsonText(problem))},
           {"sha1", digest ? nlohmann::json(r->digest) : nlohmann::json(nullptr)},
           {"sha1_file", digest ? nlohmann::json(LocalJsonText(r->paths.digest)) : nlohmann::json(nullptr)}});
    } else if (!args.quiet && r != nullptr) {
      // A file kept is the one that was there: the digest file alone, when
      // only it stood in the way.
      const bool digest_kept = r->outcome == lyr::CopyOutcome::Declined && !r->paths.digest.empty() &&
                               ::access(r->paths.target.c_str(), F_OK) != 0;
      std::printf("%s %s: %s%s%s\n", PadShown(DeviceShownText(name), 12).c_str(),
                  LocalShownText(digest_kept ? r->paths.digest : r->paths.target).c_str(),
                  OutcomeText(r->outcome), r->digest_written ? ", sha1 " : "",
                  r->digest_written ? r->digest.c_str() : "");
    }
  }
  const bool everything = result == lyr::kJobSucceeded && missed.empty();
  if (options.json) PrintJson({{"exports", out}, {"complete", everything}});
  if (result == lyr::kJobCancelled) return Cancelled("export cancelled");
  if (!everything) {
    std::string names;
    for (const auto& n : missed) names += (names.empty() ? "" : ", ") + DeviceShownText(n);
    return Failure("not every recording was exported" + (names.empty() ? "" : ": " + names));
  }
  return {};
}

}  // namespace

CommandRun AddExportCommand(CLI::App& cmd) {
  cmd.footer("Example: lyrctl export --to /srv/audio --sha1 --all");
  auto args = std::make_shared<ExportArgs>();
  cmd.add_option("--to", args->folder, "Folder for the files (default: the current folder)");
  ExportFormatOption(cmd, "--mpeg-format", args->mpeg_format, true,
                     "Format of MPEG recordings (default: bwf)");
  ExportFormatOption(cmd, "--pcm-format", args->pcm_format, false, "Format of PCM recordings (default: bwf)");
  cmd.add_flag("--sha1", args->sha1, "Write a SHA-1 digest file (.txt) beside each file");
  CLI::Option* all = cmd.add_flag("--all", args->all, "Export every recording");
  CLI::Option* yes = cmd.add_flag("--yes", args->yes, "Replace existing files without asking");
  cmd.add_flag("--no", args->no, "Keep existing files without asking")->excludes(yes);
  cmd.add_flag("--quiet", args->quiet, "Print only errors");
  cmd.add_option("RECORDING", args->recordings,
                 "Entry numbers or names of the recordings (entry:N, name:TEXT)")
      ->excludes(all);
  return [args](const GlobalOptions& options) { return RunExport(options, *args); };
}

}  // namespace lyrctl
