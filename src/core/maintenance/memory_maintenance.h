#pragma once
#include <cstdint>
#include <string>

#include "job/job_reporter.h"
#include "link/recorder_link.h"
#include "settings/recorder_model.h"

namespace lyr {

// Texts of the format and file-counter reset confirmations.
inline constexpr const char* kFormatTitle = "FORMAT";
inline constexpr const char* kFormatPrompt =
    "Formatting will erase all files?\nSelect \"Cancel\" or \"Yes\" + OK";
inline constexpr const char* kResetCounterTitle = "RESET FILE COUNTER";
inline constexpr const char* kResetCounterPrompt =
    "Beware resetting can cause overwriting of\n none erased files?\nSelect \"Cancel\" or \"Yes\" + OK";

// "Memory status: Used %d MB, Free %d MB" from the memory status figures;
// megabytes of 1,048,576 bytes, truncated.
std::string MemoryStatusLine(const MemoryFigures& memory);
// "Highest index number = %s%04d" with the 8-character file name prefix of
// the settings record (it may lack its NUL) and the index.
std::string HighestIndexLine(const SettingsRecord& settings, uint32_t highest_index);

// How a format or a reset ended.
enum class MaintenanceOutcome {
  kDone = 0,
  kNotConfirmed,  // nothing was sent
  kFailed,        // the recorder did not take the command (or GetHighestIndex failed)
};

// Format: the memory status line, the confirmation, then FormatMemory and a
// refresh of the model (also when not confirmed; not after a failure).
MaintenanceOutcome OnFormat(RecorderLink& link, RecorderModel& model, JobReporter& reporter);
// The format the hidden key combination of the confirmation asks for: no
// further confirmation; the model is refreshed when it succeeded.
MaintenanceOutcome OnFormatRequest(RecorderLink& link, RecorderModel& model);
// File-counter reset: GetHighestIndex, the confirmation with the highest
// index, then ResetFileCounter. The model is not refreshed.
MaintenanceOutcome OnResetFileCounter(RecorderLink& link, const RecorderModel& model, JobReporter& reporter,
                                      uint32_t* highest_index = nullptr);

}  // namespace lyr
