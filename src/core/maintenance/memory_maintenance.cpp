#include "maintenance/memory_maintenance.h"

#include <cstdio>
#include <cstring>

namespace lyr {

namespace {
constexpr uint64_t kMegabyte = 1048576;
constexpr size_t kPrefixOffset = 92;  // the file type block's file name prefix
constexpr size_t kPrefixWidth = 8;
}  // namespace

std::string MemoryStatusLine(const MemoryFigures& memory) {
  char line[96];
  std::snprintf(line, sizeof line, "Memory status: Used %llu MB, Free %llu MB",
                static_cast<unsigned long long>(memory.UsedBytes() / kMegabyte),
                static_cast<unsigned long long>(memory.FreeBytes() / kMegabyte));
  return line;
}

std::string HighestIndexLine(const SettingsRecord& settings, uint32_t highest_index) {
  const char* prefix = reinterpret_cast<const char*>(settings.data() + kPrefixOffset);
  const std::string text(prefix, strnlen(prefix, kPrefixWidth));
  char index[16];
  std::snprintf(index, sizeof index, "%04u", highest_index);
  return "Highest index number = " + text + index;
}

MaintenanceOutcome OnFormat(RecorderLink& link, RecorderModel& model, JobReporter& reporter) {
  const std::string line = MemoryStatusLine(model.Memory());
  if (!reporter.Confirm(kFormatTitle, kFormatPrompt, line)) {
    model.Refresh(link);
    return MaintenanceOutcome::kNotConfirmed;
  }
  return OnFormatRequest(link, model);
}

MaintenanceOutcome OnFormatRequest(RecorderLink& link, RecorderModel& model) {
  if (!link.FormatMemory()) return MaintenanceOutcome::kFailed;
  model.Refresh(link);
  return MaintenanceOutcome::kDone;
}

MaintenanceOutcome OnResetFileCounter(RecorderLink& link, const RecorderModel& model, JobReporter& reporter,
                                      uint32_t* highest_index) {
  uint32_t index = 0;
  if (!link.GetHighestIndex(index)) return MaintenanceOutcome::kFailed;
  if (highest_index != nullptr) *highest_index = index;
  if (!reporter.Confirm(kResetCounterTitle, kResetCounterPrompt, HighestIndexLine(model.Settings(), index)))
    return MaintenanceOutcome::kNotConfirmed;
  return link.ResetFileCounter() ? MaintenanceOutcome::kDone : MaintenanceOutcome::kFailed;
}

}  // namespace lyr
