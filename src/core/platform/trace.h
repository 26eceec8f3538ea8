#pragma once

namespace lyr {

// Diagnostic trace to stderr, only when LYR_TRACE is set in the environment.
bool TraceEnabled();
void Trace(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace lyr
