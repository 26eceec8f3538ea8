#include "cli_support.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>

#include "link/disk_scanner.h"
#include "link/link_commands.h"
#include "recordings/device_text.h"
#include "session/connection.h"

namespace lyrctl {

namespace {

// The recorder's disk: the one given, else the only recorder plugged in.
lyr::Result<std::string> ChooseDevice(const GlobalOptions& options) {
  if (!options.device.empty()) return options.device;
  const auto found = lyr::FindRecorders(lyr::DefaultSysfsRoot());
  if (found.empty())
    return Failure("no recorder found: plug the recorder in or use --device PATH", kErrorNoRecorder);
  if (found.size() > 1) {
    std::string nodes;
    for (const auto& r : found) nodes += (nodes.empty() ? "" : ", ") + r.node + " (" + r.device_id + ")";
    return UsageError("several recorders found: " + nodes + "; choose one with --device PATH");
  }
  return found.front().node;
}

// What keeps a device from being opened, for people.
lyr::Error OpenFailure(const std::string& device, const lyr::Error& error) {
  if (error.code == lyr::kErrorSharingViolation)
    return Failure("the recorder is in use by another program" +
                   (error.context.empty() ? "" : " (" + error.context + ")"));
  const int err = error.os_error;
  if (err == EACCES || err == EPERM)
    return Failure("permission denied on " + device +
                   ": run as a user who may read and write the recorder's disk");
  if (err == ENOENT) return Failure("no recorder at " + device + ": no such device", kErrorNoRecorder);
  if (err != 0) return Failure("cannot open " + device + ": " + std::strerror(err));
  return Failure("no recorder at " + device + ": it did not take the link's first block");
}

}  // namespace

void ExportFormatOption(CLI::App& cmd, const std::string& name, lyr::ExportFormat& format, bool mpeg,
                        const std::string& description) {
  static const std::map<std::string, lyr::ExportFormat> kMpeg = {
      {"wav", lyr::ExportFormat::Wave}, {"bwf", lyr::ExportFormat::Bwf}, {"raw", lyr::ExportFormat::Raw}};
  static const std::map<std::string, lyr::ExportFormat> kPcm = {{"wav", lyr::ExportFormat::Wave},
                                                                {"bwf", lyr::ExportFormat::Bwf}};
  const auto& names = mpeg ? kMpeg : kPcm;
  std::string choices;
  for (const auto& [text, value] : names) choices += (choices.empty() ? "" : "|") + text;
  cmd.add_option(name, format, description)
      ->type_name(choices)
      // Validators added with transform() run last first: the name is checked, then mapped.
      ->transform(CLI::Transformer(names).description(""))
      ->transform(CLI::IsMember(names, CLI::ignore_case).description(""));
}

std::string RecorderDeviceId(const std::string& node) {
  const auto found = lyr::FindRecorderAt(node, lyr::DefaultSysfsRoot());
  return found ? found->device_id : std::string();
}

CLI::Validator Latin1Text() {
  return CLI::Validator(
      [](std::string& value) -> std::string {
        auto latin1 = lyr::Utf8ToLatin1(value);
        if (!latin1) return latin1.error().context;
        value = std::move(latin1).value();
        return {};
      },
      "");
}

std::string FirmwareText(uint16_t version) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "V%d.%03d", version / 1000, version % 1000);
  return buf;
}

lyr::Status CompleteSession(lyr::RecorderLink& link, lyr::RecorderModel& model, const std::string& device) {
  const lyr::DeviceRecord& record = model.Device();
  switch (lyr::CompleteConnection(link, model)) {
    case lyr::ConnectionResult::kReady:
      return {};
    case lyr::ConnectionResult::kNoAnswer:
      return Failure("no recorder at " + device + ": it does not answer");
    case lyr::ConnectionResult::kRefused:
      return Failure("the recorder at " + device + " reports that it must not be used");
    case lyr::ConnectionResult::kAccessFailed:
      return Failure("Access LYR Failed!: the recorder does not answer");
    case lyr::ConnectionResult::kAccessLocked:
      return Failure("Access LYR Failed!: the recorder refused access (it is locked)");
    case lyr::ConnectionResult::kNoSettings:
      return Failure("Read data from LYR error!: settings");
    case lyr::ConnectionResult::kOldFirmware:
      break;
  }
  // A disk whose window reads back as zeros took our blocks without answering.
  if (std::all_of(record.begin(), record.end(), [](uint8_t b) { return b == 0; }))
    return Failure("no recorder at " + device + ": nothing answers on that disk");
  return Failure("the recorder's firmware " + FirmwareText(model.FirmwareVersion()) +
                 " is too old: V6.000 or later is needed");
}

lyr::Result<RecorderSession> OpenRecorderSession(const GlobalOptions& options) {
  RecorderSession session;
  LYR_TRY_ASSIGN(session.device_path, ChooseDevice(options));
  const std::string& device = session.device_path;
  // A disk named by hand gets the test discovery applies before the first
  // block is written to it: a wrong --device must not lose someone's disk.
  if (!options.device.empty() && !options.force) {
    const lyr::Status check = lyr::CheckRecorderDevice(device, lyr::DefaultSysfsRoot());
    if (!check) {
      if (check.error().code != lyr::kErrorBadDevice) return OpenFailure(device, check.error());
      return Failure("no recorder at " + device + ": it is " + check.error().context +
                     ". Nothing was written to it; add --force to open it anyway");
    }
  }
  session.link = std::make_unique<lyr::RecorderLink>();
  lyr::RecorderLink& link = *session.link;
  link.ResetLinkState();
  // The calling thread may be the one stuck in the transfer that never
  // returns: the watchdog ends the run itself.
  link.SetStallHandler([bound = link.ReplyBound()] {
    const std::string text = "\nlyrctl: the recorder does not answer: no reply within " +
                             std::to_string(bound.count() / 1000) + " s\n";
    [[maybe_unused]] const ssize_t n = ::write(STDERR_FILENO, text.data(), text.size());
    std::_Exit(1);
  });
  if (const lyr::Status opened = lyr::LinkCommands(link).OpenLink(device); !opened)
    return OpenFailure(device, opened.error());
  link.SetDriveOpen(true);
  session.model = std::make_unique<lyr::RecorderModel>();
  LYR_TRY(CompleteSession(link, *session.model, device));
  return session;
}

}  // namespace lyrctl
