#pragma once

namespace lyr {

class RecorderLink;
class RecorderModel;

// How bringing a linked recorder into use ended.
enum class ConnectionResult {
  kReady = 0,     // identified, access granted, model refreshed: usable
  kNoAnswer,      // Identify failed: the recorder does not answer
  kRefused,       // the recorder reports that it must not be used
  kAccessFailed,  // RequestAccess failed: no answer
  kAccessLocked,  // the recorder did not grant access (it is locked)
  kNoSettings,    // its settings could not be read; released without sending
  kOldFirmware,   // firmware below 6000; released without sending
};

// The connection sequence after the watcher (or a command-line run) opened the
// recorder's drive: reset the model, Identify, RequestAccess with an empty
// text, refresh the model (settings, the fixed values written back, device
// record, memory status, PC time) and check the firmware version. The caller
// tells the model's listeners and shows the outcome.
ConnectionResult CompleteConnection(RecorderLink& link, RecorderModel& model);

}  // namespace lyr
