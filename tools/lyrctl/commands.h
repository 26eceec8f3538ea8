#pragma once
#include <CLI/CLI.hpp>
#include <functional>
#include <string>

#include "platform/result.h"

namespace lyrctl {

// Options every sub-command shares; they are accepted before and after the
// sub-command's name.
struct GlobalOptions {
  std::string device;    // --device PATH: the recorder's raw disk
  bool json = false;     // --json: machine-readable output
  bool force = false;    // --force: open --device even when it does not look like a recorder
  bool verbose = false;  // -v, --verbose: commands and replies traced to stderr
  bool quiet = false;    // -q: print only errors
};

// Exit statuses of lyrctl.
constexpr int kExitDone = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;       // the command line is wrong; nothing was done
constexpr int kExitNoRecorder = 3;  // no recorder found, or none at --device
constexpr int kExitCancelled = 130;

// A command's errors carry their exit status in the error code: the command
// line's own mistakes use ERROR_BAD_ARGUMENTS, a cancel ERROR_CANCELLED, and
// every other failure the code of what failed.
constexpr uint32_t kErrorBadArguments = 160;
// ERROR_DEV_NOT_EXIST: there is no recorder to talk to.
constexpr uint32_t kErrorNoRecorder = 55;

// An error whose message is the whole text for the user.
inline lyr::Error Failure(std::string message, uint32_t code = lyr::kErrorIoDevice) {
  return lyr::Error::Code(code, std::move(message));
}
inline lyr::Error UsageError(std::string message) { return Failure(std::move(message), kErrorBadArguments); }
inline lyr::Error Cancelled(std::string message) { return Failure(std::move(message), lyr::kErrorCancelled); }

// The exit status and the line lyrctl prints for a command's error.
int ExitStatusOf(const lyr::Error& error);
std::string FailureText(const lyr::Error& error);

// What runs a sub-command once the command line is parsed.
using CommandRun = std::function<lyr::Status(const GlobalOptions& options)>;

// Each sub-command adds its options and arguments to its own CLI::App and
// returns what runs it. main.cpp lists them in the order help shows them.
CommandRun AddDevicesCommand(CLI::App& cmd);
CommandRun AddInfoCommand(CLI::App& cmd);
CommandRun AddListCommand(CLI::App& cmd);
CommandRun AddExportCommand(CLI::App& cmd);
CommandRun AddDeleteCommand(CLI::App& cmd);
CommandRun AddDecodeCommand(CLI::App& cmd);
CommandRun AddDrivesCommand(CLI::App& cmd);
CommandRun AddPlayCommand(CLI::App& cmd);
CommandRun AddBurnAudioCommand(CLI::App& cmd);
CommandRun AddBurnDataCommand(CLI::App& cmd);
CommandRun AddUpdateFirmwareCommand(CLI::App& cmd);
CommandRun AddFormatCommand(CLI::App& cmd);
CommandRun AddResetCounterCommand(CLI::App& cmd);
CommandRun AddSetClockCommand(CLI::App& cmd);
CommandRun AddSetFileTypeCommand(CLI::App& cmd);
CommandRun AddIngestCommand(CLI::App& cmd);

}  // namespace lyrctl
