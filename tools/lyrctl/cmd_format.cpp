// lyrctl format: erases every recording, after the confirmation that shows
// the memory in use.
#include <chrono>
#include <cstdio>
#include <nlohmann/json.hpp>

#include "cli_support.h"
#include "link/link_commands.h"
#include "maintenance/memory_maintenance.h"
#include "maintenance_terminal.h"
#include "text_output.h"

namespace lyrctl {
namespace {

lyr::Status RunFormat(const GlobalOptions& options, bool yes) {
  LYR_TRY(RequireConfirmation(yes, "format"));
  LYR_TRY_ASSIGN(RecorderSession session, OpenRecorderSession(options));
  MaintenanceTerminal terminal(yes, options.json);
  const lyr::MaintenanceOutcome outcome = lyr::OnFormat(*session.link, *session.model, terminal);
  if (outcome == lyr::MaintenanceOutcome::kNotConfirmed) return Failure("not formatted: nothing was sent");
  if (outcome == lyr::MaintenanceOutcome::kFailed) return Failure("the recorder did not format its memory");
  // The model's refresh keeps the old figures when a read fails: the state
  // after formatting is shown only as read now.
  const lyr::Result<lyr::MemoryStatusRecord> memory = lyr::LinkCommands(*session.link).GetMemoryStatus();
  if (!memory) {
    const std::string why = "the memory status could not be read again (" + memory.error().Message() + ")";
    if (options.json)
      PrintJson({{"formatted", true}, {"memory_status", nullptr}, {"recordings", nullptr}, {"error", why}});
    else
      std::printf("Formatted; %s\n", why.c_str());
    return {};
  }
  session.model->TakeStatus(session.model->Device(), memory.value(), std::chrono::steady_clock::now());
  const std::string line = lyr::MemoryStatusLine(session.model->Memory());
  if (options.json)
    PrintJson(
        {{"formatted", true}, {"memory_status", line}, {"recordings", session.model->Memory().list_count}});
  else
    std::printf("Formatted. %s\n", line.c_str());
  return {};
}

}  // namespace

CommandRun AddFormatCommand(CLI::App& cmd) {
  auto yes = std::make_shared<bool>(false);
  cmd.add_flag("--yes", *yes, "Do not ask for confirmation");
  cmd.footer("Example: lyrctl format --yes");
  return [yes](const GlobalOptions& options) { return RunFormat(options, *yes); };
}

}  // namespace lyrctl
