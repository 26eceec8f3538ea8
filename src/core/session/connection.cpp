#include "session/connection.h"

#include "link/recorder_link.h"
#include "link/protocol.h"
#include "platform/trace.h"
#include "settings/recorder_model.h"

namespace lyr {

ConnectionResult CompleteConnection(RecorderLink& link, RecorderModel& model) {
  model.Reset();
  const int identified = link.Identify();
  if (link.IsRecorderRefused()) return identified ? ConnectionResult::kRefused : ConnectionResult::kNoAnswer;
  if (!link.RequestAccess("")) return ConnectionResult::kAccessFailed;
  if (!link.IsAccessGranted()) return ConnectionResult::kAccessLocked;
  if (!model.Refresh(link)) {
    // Nothing is known of this recorder; like one too old, it stays unused.
    link.ReleaseRecorder(false);
    return ConnectionResult::kNoSettings;
  }
  if (model.FirmwareVersion() < protocol::kMinimumFirmware) {
    Trace("connection: firmware %u is too old\n", model.FirmwareVersion());
    link.ReleaseRecorder(false);
    return ConnectionResult::kOldFirmware;
  }
  return ConnectionResult::kReady;
}

}  // namespace lyr
