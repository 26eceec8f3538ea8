#include "platform/trace.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>

namespace lyr {

namespace {

std::atomic<bool>& Enabled() {
  static std::atomic<bool> enabled{std::getenv("LYR_TRACE") != nullptr};
  return enabled;
}

}  // namespace

bool TraceEnabled() { return Enabled().load(std::memory_order_relaxed); }

void SetTraceEnabled(bool enabled) { Enabled().store(enabled, std::memory_order_relaxed); }

void Trace(const char* format, ...) {
  if (!TraceEnabled()) return;
  va_list args;
  va_start(args, format);
  std::vfprintf(stderr, format, args);
  va_end(args);
}

}  // namespace lyr
