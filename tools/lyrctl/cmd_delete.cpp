// lyrctl delete: the delete job, with its confirmation.
#include <algorithm>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <optional>

#include "cli_support.h"
#include "maintenance_terminal.h"
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
  LYR_TRY(RequireConfirmation(args.yes, "delete"));
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

  // The job counts a recording as deleted only when the recorder said so in
  // time; the list, read again, tells what is really still there.
  std::vector<uint32_t> unconfirmed;
  for (const auto* row : rows)
    if (std::find(queue.done.begin(), queue.done.end(), row->entry) == queue.done.end())
      unconfirmed.push_back(row->entry);
  std::optional<std::vector<uint32_t>> still_listed;
  if (!unconfirmed.empty()) {
    auto listed = lyr::EntriesStillListed(*session.link, unconfirmed);
    if (listed)
      still_listed = std::move(listed).value();
    else
      std::fprintf(stderr, "cannot read the recording list again: %s\n", listed.error().Message().c_str());
  }

  size_t deleted = 0;
  nlohmann::json out = nlohmann::json::array();
  for (const auto* row : rows) {
    const bool doubtful = std::find(unconfirmed.begin(), unconfirmed.end(), row->entry) != unconfirmed.end();
    const bool known = !doubtful || still_listed.has_value();
    const bool gone = !doubtful || (still_listed && std::find(still_listed->begin(), still_listed->end(),
                                                              row->entry) == still_listed->end());
    deleted += gone;
    if (options.json)
      out.push_back({{"entry", row->entry},
                     {"name", DeviceJsonText(row->name)},
                     {"deleted", known ? nlohmann::json(gone) : nlohmann::json(nullptr)}});
    else
      std::printf("%s %s\n", PadShown(DeviceShownText(row->name), 12).c_str(),
                  !known ? "not known"
                  : gone ? "deleted"
                         : "not deleted");
  }
  if (options.json) PrintJson({{"deletions", out}, {"complete", deleted == rows.size()}});
  if (result == lyr::kJobCancelled) return Cancelled("delete cancelled");
  if (deleted == rows.size()) return {};
  if (result != lyr::kJobSucceeded) return Failure("Access LYR Failed!: the recorder stopped answering");
  return Failure("not every recording was deleted");
}

}  // namespace

CommandRun AddDeleteCommand(CLI::App& cmd) {
  cmd.footer("Example: lyrctl delete --yes LYR0003 entry:7");
  auto args = std::make_shared<DeleteArgs>();
  CLI::Option* all = cmd.add_flag("--all", args->all, "Delete every recording");
  cmd.add_flag("--yes", args->yes, "Do not ask for confirmation");
  cmd.add_option("RECORDING", args->recordings,
                 "Entry numbers or names of the recordings (entry:N, name:TEXT)")
      ->excludes(all);
  return [args](const GlobalOptions& options) { return RunDelete(options, *args); };
}

}  // namespace lyrctl
