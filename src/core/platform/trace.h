#pragma once

namespace lyr {

// Diagnostic trace to stderr, only when LYR_TRACE is set in the environment
// or a program turned it on (lyrctl --verbose).
bool TraceEnabled();
void SetTraceEnabled(bool enabled);
#ifdef _WIN32
// MinGW's "printf" is the Microsoft one, which knows no %zu.
void Trace(const char* format, ...) __attribute__((format(gnu_printf, 1, 2)));
#else
void Trace(const char* format, ...) __attribute__((format(printf, 1, 2)));
#endif

}  // namespace lyr
