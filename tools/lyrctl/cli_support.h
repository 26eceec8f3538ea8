#pragma once
#include <cstdint>
#include <memory>
#include <string>

#include "commands.h"
#include "link/recorder_link.h"
#include "settings/recorder_model.h"
#include "transfer/transfer_jobs.h"

namespace lyrctl {

// An open, usable connection to the recorder for one lyrctl run.
struct RecorderSession {
  std::unique_ptr<lyr::RecorderLink> link;
  std::string device_path;
  // What the connection sequence read: settings (with the fixed values
  // committed), device record and memory status.
  std::unique_ptr<lyr::RecorderModel> model;
};

// Opens the recorder at options.device, or the one recorder that discovery
// finds when no device is given, and runs the connection sequence (identify,
// request access, refresh, firmware check). Otherwise an error with a clear
// message (a usage error when the recorder to use must be named).
lyr::Result<RecorderSession> OpenRecorderSession(const GlobalOptions& options);

// The recorder's device id (the serial part of its USB instance) for the BWF
// originator reference, when discovery knows the disk; empty otherwise.
std::string RecorderDeviceId(const std::string& node);

// --mpeg-format (wav|bwf|raw) or, without `mpeg`, --pcm-format (wav|bwf):
// only the formats' names are taken, an unknown one is an error (PCM
// recordings are never saved raw).
void ExportFormatOption(CLI::App& cmd, const std::string& name, lyr::ExportFormat& format, bool mpeg,
                        const std::string& description);

// The connection sequence on a link whose drive is open, with lyrctl's
// message for each way it can fail.
lyr::Status CompleteSession(lyr::RecorderLink& link, lyr::RecorderModel& model, const std::string& device);

// An option's text for the recorder: typed as UTF-8, taken as the Latin-1
// the recorder stores (so that limits count characters); a character Latin-1
// lacks is refused by name.
CLI::Validator Latin1Text();

// A firmware version as the recorder's texts show it: "V6.021".
std::string FirmwareText(uint16_t version);

}  // namespace lyrctl
