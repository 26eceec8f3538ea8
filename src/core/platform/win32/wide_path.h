#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

namespace lyr {

// UTF-8 (as the core keeps paths and names) to the UTF-16 the wide Windows
// calls take, and back. Invalid UTF-8 gives an empty result.
std::wstring WidePath(const std::string& utf8);
std::string Utf8Text(const std::wstring& wide);

// errno for the thread's last Windows error, for callers that report errno.
int ErrnoFromWindowsError(unsigned long error);

// A positioned ReadFile or WriteFile on `handle` (a HANDLE), repeated until
// whole or the file ends; the handle's own position is left alone. Bytes
// moved, or -1 (errno set) when nothing moved.
long long TransferAt(void* handle, bool write, void* buffer, size_t length, uint64_t offset);

}  // namespace lyr
