// lyrctl reset-counter: sets the recorder's file index counter back, after
// the confirmation that shows the highest index so far.
#include <cstdio>
#include <nlohmann/json.hpp>

#include "cli_support.h"
#include "link/link_commands.h"
#include "maintenance/memory_maintenance.h"
#include "maintenance_terminal.h"
#include "text_output.h"

namespace lyrctl {
namespace {

lyr::Status RunResetCounter(const GlobalOptions& options, bool yes) {
  LYR_TRY(RequireConfirmation(yes, "reset-counter"));
  LYR_TRY_ASSIGN(RecorderSession session, OpenRecorderSession(options));
  MaintenanceTerminal terminal(yes, options.json);
  uint32_t before = 0;
  const lyr::MaintenanceOutcome outcome =
      lyr::OnResetFileCounter(*session.link, *session.model, terminal, &before);
  if (outcome == lyr::MaintenanceOutcome::kNotConfirmed)
    return Failure("file counter not reset: nothing was sent");
  if (outcome == lyr::MaintenanceOutcome::kFailed)
    return Failure("the recorder did not reset its file counter");
  const lyr::Result<uint32_t> highest = lyr::LinkCommands(*session.link).GetHighestIndex();
  if (!highest) return Failure("file counter reset, but the new index cannot be read", highest.error().code);
  const uint32_t after = highest.value();
  const lyr::SettingsRecord& settings = session.model->Settings();
  if (options.json)
    PrintJson({{"reset", true},
               {"highest_index_before", before},
               {"highest_index", after},
               {"text", DeviceJsonText(lyr::HighestIndexLine(settings, after))}});
  else
    std::printf("File counter reset. %s\n", DeviceShownText(lyr::HighestIndexLine(settings, after)).c_str());
  return {};
}

}  // namespace

CommandRun AddResetCounterCommand(CLI::App& cmd) {
  auto yes = std::make_shared<bool>(false);
  cmd.add_flag("--yes", *yes, "Do not ask for confirmation");
  cmd.footer("Example: lyrctl reset-counter --yes");
  return [yes](const GlobalOptions& options) { return RunResetCounter(options, *yes); };
}

}  // namespace lyrctl
