#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

namespace lyr {

// The few file operations whose plain C forms differ between platforms. On
// Windows a C open() without O_BINARY turns LF into CRLF and stops reading at
// 0x1A, off_t is 32 bits and rename() refuses to replace; these do neither,
// and take UTF-8 paths (converted to UTF-16 there). Each returns -1 (errno
// set) on failure, as the calls they replace.

// open() in binary mode, not inherited by child processes.
int OpenFile(const std::string& path, int flags, int mode = 0644);
// Positioned transfers at 64-bit offsets; bytes moved, short only at the end.
long long ReadFileAt(int fd, void* buffer, size_t length, uint64_t offset);
long long WriteFileAt(int fd, const void* buffer, size_t length, uint64_t offset);
// Renames `from` to `to`, replacing `to` when it exists. 0 or -1.
int RenameReplacing(const std::string& from, const std::string& to);

}  // namespace lyr
