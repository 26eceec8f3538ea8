// lyrctl update-firmware: sends an update file's image to the recorder and
// reads it back to verify it.
#include <cstdio>
#include <nlohmann/json.hpp>

#include "cli_support.h"
#include "maintenance/firmware_update.h"
#include "maintenance_terminal.h"
#include "text_output.h"

namespace lyrctl {
namespace {

struct UpdateArgs {
  std::string file;
  bool yes = false;
};

const char* OutcomeText(lyr::FirmwareUpdateOutcome outcome) {
  switch (outcome) {
    case lyr::FirmwareUpdateOutcome::kUpdated:
      return "updated";
    case lyr::FirmwareUpdateOutcome::kFileRefused:
      return "file refused";
    case lyr::FirmwareUpdateOutcome::kNotLyr:
      return "not for this recorder";
    case lyr::FirmwareUpdateOutcome::kUpdateFailed:
      return "write failed";
    case lyr::FirmwareUpdateOutcome::kVerifyProblem:
      return "read-back failed";
    case lyr::FirmwareUpdateOutcome::kVerifyFailed:
      return "read-back differs";
    case lyr::FirmwareUpdateOutcome::kCancelled:
      return "cancelled";
    case lyr::FirmwareUpdateOutcome::kVerifyCancelled:
      return "cancelled before verified";
  }
  return "";
}

lyr::Status RunUpdateFirmware(const GlobalOptions& options, const UpdateArgs& args) {
  LYR_TRY(RequireConfirmation(args.yes, "update-firmware"));
  MaintenanceTerminal terminal(args.yes, options.json);
  // The file is checked before the recorder is touched.
  lyr::LoadedUpdate loaded = lyr::LoadUpdateFile(args.file, terminal);
  lyr::FirmwareUpdateOutcome outcome = loaded.outcome;
  if (outcome == lyr::FirmwareUpdateOutcome::kUpdated) {
    LYR_TRY_ASSIGN(RecorderSession session, OpenRecorderSession(options));
    const uint16_t firmware = session.model->FirmwareVersion();
    if (!terminal.ConfirmShown("UPDATE FIRMWARE",
                               "The recorder's firmware " + FirmwareText(firmware) +
                                   " is replaced by the image of " + LocalShownText(args.file) + " (" +
                                   std::to_string(loaded.image.size()) + " bytes).",
                               "Do not unplug the recorder before lyrctl ends."))
      return Failure("firmware not updated: nothing was sent");
    terminal.HoldInterrupts();
    outcome = lyr::SendFirmwareImage(*session.link, firmware, loaded.image, terminal);
  }
  if (options.json)
    PrintJson({{"file", LocalJsonText(args.file)},
               {"updated", outcome == lyr::FirmwareUpdateOutcome::kUpdated},
               {"outcome", OutcomeText(outcome)}});
  switch (outcome) {
    case lyr::FirmwareUpdateOutcome::kUpdated:
      return {};
    case lyr::FirmwareUpdateOutcome::kCancelled:
      return Cancelled("firmware update cancelled: nothing was sent");
    case lyr::FirmwareUpdateOutcome::kVerifyCancelled:
      return Cancelled(
          "firmware update cancelled after the new firmware was written, before it was verified: the "
          "recorder holds an unverified firmware and is still in its update state. Run update-firmware "
          "again with the same file before unplugging the recorder");
    case lyr::FirmwareUpdateOutcome::kVerifyProblem:
    case lyr::FirmwareUpdateOutcome::kVerifyFailed:
      return Failure("the firmware was sent but not verified (" + std::string(OutcomeText(outcome)) + ")");
    default:
      return Failure("firmware not updated (" + std::string(OutcomeText(outcome)) + ")");
  }
}

}  // namespace

CommandRun AddUpdateFirmwareCommand(CLI::App& cmd) {
  auto args = std::make_shared<UpdateArgs>();
  cmd.add_option("FILE", args->file, "Update file (.coe)")->required();
  cmd.add_flag("--yes", args->yes, "Do not ask for confirmation");
  cmd.footer(
      "Example: lyrctl update-firmware --yes LYR-6.030.coe\n"
      "After a verified update, unplug the recorder and plug it in again.");
  return [args](const GlobalOptions& options) { return RunUpdateFirmware(options, *args); };
}

}  // namespace lyrctl
