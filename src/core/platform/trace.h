#pragma once

namespace lyr {

// Diagnostic trace to stderr, only when LYR_TRACE is set in the environment
// or a program turned it on (lyrctl --verbose).
bool TraceEnabled();
void SetTraceEnabled(bool enabled);
void Trace(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace lyr
