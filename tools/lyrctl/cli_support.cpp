#include "cli_support.h"

#include <cerrno>
#include <cstring>

namespace lyrctl {

RecorderSession OpenRecorderSession(const GlobalOptions& options) {
  if (options.device.empty()) throw CommandFailure{"no recorder given: use --device PATH", 2};
  RecorderSession session;
  session.device_path = options.device;
  session.link = std::make_unique<lyr::RecorderLink>();
  lyr::RecorderLink& link = *session.link;
  link.ResetLinkState();
  if (link.OpenLink(options.device) != 0) {
    const int err = link.OsError();
    if (err == EACCES || err == EPERM)
      throw CommandFailure{"permission denied on " + options.device +
                           ": run as a user who may read and write the recorder's disk"};
    if (err == ENOENT) throw CommandFailure{"no recorder at " + options.device + ": no such device"};
    if (err != 0) throw CommandFailure{"cannot open " + options.device + ": " + std::strerror(err)};
    throw CommandFailure{"no recorder at " + options.device + ": it did not take the link's first block"};
  }
  link.SetDriveOpen(true);
  if (!link.Identify()) throw CommandFailure{"no recorder at " + options.device + ": it does not answer"};
  if (link.IsRecorderRefused())
    throw CommandFailure{"the recorder at " + options.device + " reports that it must not be used"};
  if (!link.RequestAccess("")) throw CommandFailure{"Access LYR Failed!: the recorder does not answer"};
  if (!link.IsAccessGranted()) throw CommandFailure{"Access LYR Failed!: the recorder refused access (it is locked)"};
  return session;
}

}  // namespace lyrctl
