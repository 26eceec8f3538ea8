// lyrctl delete: the delete job, with its confirmation.
#include <cstdio>
#include <nlohmann/json.hpp>

#include "cli_support.h"
#include "recording_selection.h"
#include "terminal_window.h"
#include "text_output.h"
#include "transfer/transfer_jobs.h"

namespace lyrctl {
namespace {

struct DeleteArgs {
  bool all = false;
  bool yes = false;
  std::vector<std::string> recordings;
};

lyr::Status RunDelete(const GlobalOptions& options, const DeleteArgs& args) {
  if (!args.all && args.recordings.empty()) return UsageError("name the recordings to delete, or use --all");
  LYR_TRY_ASSIGN(RecorderSession session, OpenRecorderSession(options));
  lyr::RecordingCatalogue catalogue(*session.link);
  LYR_TRY(LoadWholeCatalogue(catalogue));
  LYR_TRY_ASSIGN(const auto rows, SelectRecordings(catalogue, args.all, args.recordings));

  if (!args.yes && !AskYesNo(std::string(lyr::kDeleteQuestionCaption) + ": " + lyr::kDeleteQuestion))
    return Failure("nothing deleted");

  lyr::JobQueue queue;
  for (const auto* row : rows) queue.entries.push_back(row->entry);
  TerminalWindow window(Answer::No, 0, options.json);
  const int result = RunJobOnTerminal(
      window, [&](lyr::JobReporter& reporter) { return lyr::DeleteJob(*session.link, queue, reporter); });

  size_t deleted = 0;
  nlohmann::json out = nlohmann::json::array();
  for (const auto* row : rows) {
    const bool gone = std::find(queue.done.begin(), queue.done.end(), row->entry) != queue.done.end();
    deleted += gone;
    if (options.json)
      out.push_back({{"entry", row->entry}, {"name", DeviceJsonText(row->name)}, {"deleted", gone}});
    else
      std::printf("%-12s %s\n", DeviceShownText(row->name).c_str(), gone ? "deleted" : "not deleted");
  }
  if (options.json) PrintJson({{"deletions", out}, {"complete", deleted == rows.size()}});
  if (result == lyr::kJobCancelled) return Cancelled("delete cancelled");
  if (result != lyr::kJobSucceeded) return Failure("Access LYR Failed!: the recorder stopped answering");
  if (deleted != rows.size()) return Failure("not every recording was deleted");
  return {};
}

}  // namespace

CommandRun AddDeleteCommand(CLI::App& cmd) {
  auto args = std::make_shared<DeleteArgs>();
  CLI::Option* all = cmd.add_flag("--all", args->all, "Delete every recording");
  cmd.add_flag("--yes", args->yes, "Do not ask for confirmation");
  cmd.add_option("RECORDING", args->recordings,
                 "Entry numbers or names of the recordings (entry:N, name:TEXT)")
      ->excludes(all);
  return [args](const GlobalOptions& options) { return RunDelete(options, *args); };
}

}  // namespace lyrctl
