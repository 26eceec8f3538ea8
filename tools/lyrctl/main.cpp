#include <cstdio>
#include <iostream>

#include "commands.h"
#include "lyr_version.h"
#include "platform/trace.h"
#include "text_output.h"

namespace lyrctl {
namespace {

struct Command {
  const char* name;
  const char* description;
  CommandRun (*add)(CLI::App& cmd);
};

// Every sub-command, in the order help lists them.
constexpr Command kCommands[] = {
    {"devices", "List the recorders plugged in (LYR_SYSFS_ROOT names another sysfs tree)", AddDevicesCommand},
    {"info", "Show firmware, memory, clock, file type and text of the recorder", AddInfoCommand},
    {"list", "List the recordings on the recorder", AddListCommand},
    {"export", "Copy recordings to a folder as WAVE, BWF or raw MPEG files", AddExportCommand},
    {"delete", "Delete recordings from the recorder", AddDeleteCommand},
    {"decode", "Decode an MPEG Layer II file to a 16-bit stereo WAVE file", AddDecodeCommand},
    {"drives", "List the disc drives, what they read and write (LYR_CDRECORD, LYR_MKISOFS name the tools)",
     AddDrivesCommand},
    {"play", "Play a recording on the sound device (LYR_AUDIO=null|sdl chooses the output)", AddPlayCommand},
    {"burn-audio", "Burn recordings to an audio CD, one track each", AddBurnAudioCommand},
    {"burn-data", "Burn recordings to a data CD or DVD as files, or write the disc as an ISO image",
     AddBurnDataCommand},
    {"update-firmware", "Send a firmware update file (.coe) to the recorder and verify it",
     AddUpdateFirmwareCommand},
    {"format", "Erase every recording on the recorder", AddFormatCommand},
    {"reset-counter", "Set the recorder's file index counter back to the start", AddResetCounterCommand},
    {"set-clock", "Set the recorder's clock", AddSetClockCommand},
    {"set-filetype", "Set the recorder's recording format", AddSetFileTypeCommand},
    {"ingest", "Archive every recording not yet copied, with a SHA-1 manifest", AddIngestCommand},
};

// -q: the command's own --quiet where it has one; otherwise nothing but
// errors (stderr) and the JSON asked for.
void BeQuiet(CLI::App& cmd, const GlobalOptions& options) {
  if (CLI::Option* own = cmd.get_option_no_throw("--quiet")) {
    own->add_result("true");
    own->run_callback();
    return;
  }
  // Failing to reach /dev/null leaves stdout as it was: more output, no harm.
  if (options.json) return;
  [[maybe_unused]] std::FILE* devnull = std::freopen("/dev/null", "w", stdout);
}

}  // namespace

int ExitStatusOf(const lyr::Error& error) {
  if (error.code == kErrorBadArguments) return kExitUsage;
  if (error.code == kErrorNoRecorder) return kExitNoRecorder;
  if (error.code == lyr::kErrorCancelled) return kExitCancelled;
  return kExitFailure;
}

std::string FailureText(const lyr::Error& error) {
  return error.os_error == 0 && !error.context.empty() ? error.context : error.Message();
}

}  // namespace lyrctl

int main(int argc, char** argv) {
  CLI::App app{"lyrctl: the LYR recorder manager on the command line"};
  app.set_version_flag("--version", std::string("lyrctl ") + LYR_VERSION_STRING);
  app.require_subcommand(1);
  app.footer(
      "Exit status: 0 done, 1 failed, 2 wrong command line, 3 no recorder found, 130 cancelled.\n"
      "Example: lyrctl export --to /srv/audio --sha1 --all\nEach command's --help shows an example of it.");
  // Sub-commands inherit this: an option a sub-command does not know (--json,
  // --device) goes to the global options, wherever it stands.
  app.fallthrough();
  lyrctl::GlobalOptions options;
  app.add_option("--device", options.device,
                 "The recorder's raw disk (for example /dev/sdb); default: the one recorder plugged in");
  app.add_flag("--json", options.json, "Print machine-readable JSON");
  app.add_flag("--force", options.force,
               "Open --device even when it is neither a recorder's USB disk nor a served stand-in");
  app.add_flag("-v,--verbose", options.verbose,
               "Trace the commands sent to the recorder and its replies to stderr");
  app.add_flag("-q", options.quiet, "Print only errors (as the command's own --quiet, where it has one)");

  std::vector<std::pair<CLI::App*, lyrctl::CommandRun>> commands;
  for (const auto& command : lyrctl::kCommands) {
    CLI::App* cmd = app.add_subcommand(command.name, command.description);
    commands.emplace_back(cmd, command.add(*cmd));
  }
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    // Help and --version end with 0; every mistake on the command line with 2.
    return app.exit(e) == 0 ? lyrctl::kExitDone : lyrctl::kExitUsage;
  }
  if (options.verbose) lyr::SetTraceEnabled(true);
  for (auto& [cmd, run] : commands) {
    if (!cmd->parsed()) continue;
    if (options.quiet) lyrctl::BeQuiet(*cmd, options);
    const lyr::Status status = run(options);
    std::fflush(stdout);
    if (status) return lyrctl::kExitDone;
    const int exit_status = lyrctl::ExitStatusOf(status.error());
    // Names and paths inside the text came from the recorder or the user:
    // nothing in them reaches the terminal as a control.
    std::cerr << "lyrctl: " << lyrctl::LocalShownLines(lyrctl::FailureText(status.error())) << "\n";
    if (options.json) lyrctl::PrintJsonError(lyrctl::FailureText(status.error()), exit_status);
    return exit_status;
  }
  return lyrctl::kExitUsage;
}
