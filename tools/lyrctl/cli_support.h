#pragma once
#include <memory>
#include <string>

#include "commands.h"
#include "link/command_set.h"

namespace lyrctl {

// An open, usable connection to the recorder for one lyrctl run.
struct RecorderSession {
  std::unique_ptr<lyr::RecorderLink> link;
  std::string device_path;
};

// Opens the recorder at options.device and brings the link up (identify,
// request access). Throws CommandFailure with a clear message otherwise.
RecorderSession OpenRecorderSession(const GlobalOptions& options);

}  // namespace lyrctl
