// lyrctl export: the copy job, writing recordings as WAVE, BWF or raw MPEG
// files with optional SHA-1 digest files.
#include <cstdio>
#include <filesystem>
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
  std::string mpeg_format = "bwf";
  std::string pcm_format = "bwf";
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

int FormatCode(const std::string& name) {
  if (name == "wav") return lyr::kExportWave;
  if (name == "raw") return lyr::kExportRaw;
  return lyr::kExportBwf;
}

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

void RunExport(const GlobalOptions& options, const ExportArgs& args) {
  if (args.all == !args.recordings.empty())
    throw CommandFailure{"name the recordings to export, or use --all", 2};
  if (args.yes && args.no) throw CommandFailure{"--yes and --no exclude each other", 2};
  std::error_code ec;
  std::filesystem::create_directories(args.folder, ec);
  if (!std::filesystem::is_directory(args.folder, ec))
    throw CommandFailure{"cannot make the folder " + args.folder + (ec ? ": " + ec.message() : "")};

  RecorderSession session = OpenRecorderSession(options);
  lyr::RecordingCatalogue catalogue(*session.link);
  LoadWholeCatalogue(catalogue);
  const auto rows = SelectRecordings(catalogue, args.all, args.recordings);

  lyr::CopyOptions copy;
  copy.folder = lyr::WithTrailingSeparator(args.folder);
  copy.mpeg_format = FormatCode(args.mpeg_format);
  copy.pcm_format = FormatCode(args.pcm_format);
  copy.output_sha1 = args.sha1;
  copy.device_id = DeviceIdOf(session.device_path);
  lyr::JobQueue queue;
  uint64_t total = 0;
  for (const auto* row : rows) {
    queue.entries.push_back(row->entry);
    total += row->record.DataSize();
  }

  TerminalWindow window(args.yes ? Answer::Yes : args.no ? Answer::No : Answer::AskTerminal, total,
                        args.quiet || options.json);
  window.SetStatus(lyr::kJobTitle);
  std::vector<lyr::CopyResult> results;
  const int result = RunJobOnTerminal(window, [&](lyr::JobReporter& reporter) {
    return lyr::CopyJob(*session.link, queue, copy, reporter, &results);
  });

  bool everything = result == lyr::kJobSucceeded && results.size() == rows.size();
  nlohmann::json out = nlohmann::json::array();
  for (const auto& r : results) {
    const bool ok = r.outcome == lyr::CopyOutcome::Copied || r.outcome == lyr::CopyOutcome::Declined;
    const bool digest_ok = !args.sha1 || r.outcome != lyr::CopyOutcome::Copied || r.digest_written;
    everything = everything && ok && digest_ok;
    if (options.json) {
      out.push_back({{"entry", r.entry},
                     {"name", r.name},
                     {"file", r.paths.target},
                     {"outcome", OutcomeText(r.outcome)},
                     {"copied", r.outcome == lyr::CopyOutcome::Copied},
                     {"sha1", r.digest_written ? nlohmann::json(r.digest) : nlohmann::json(nullptr)},
                     {"sha1_file", r.digest_written ? nlohmann::json(r.paths.digest) : nlohmann::json(nullptr)}});
    } else if (!args.quiet) {
      std::printf("%-12s %s: %s%s%s\n", r.name.c_str(), r.paths.target.c_str(), OutcomeText(r.outcome),
                  r.digest_written ? ", sha1 " : "", r.digest_written ? r.digest.c_str() : "");
    }
  }
  if (options.json) std::printf("%s\n", nlohmann::json{{"exports", out}, {"complete", everything}}.dump(2).c_str());
  if (result == lyr::kJobCancelled) throw CommandFailure{"export cancelled", 130};
  if (!everything) throw CommandFailure{"not every recording was exported"};
}

LYRCTL_COMMAND([](CLI::App& app, GlobalOptions& options) {
  static ExportArgs args;
  CLI::App* cmd = app.add_subcommand("export", "Copy recordings to a folder as WAVE, BWF or raw MPEG files");
  cmd->add_option("--to", args.folder, "Folder for the files (default: the current folder)");
  cmd->add_option("--mpeg-format", args.mpeg_format, "Format of MPEG recordings (default: bwf)")
      ->check(CLI::IsMember({"wav", "bwf", "raw"}));
  cmd->add_option("--pcm-format", args.pcm_format, "Format of PCM recordings (default: bwf)")
      ->check(CLI::IsMember({"wav", "bwf"}));
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
