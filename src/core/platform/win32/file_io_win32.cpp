#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cerrno>

#include "platform/file_io.h"
#include "platform/win32/wide_path.h"

namespace lyr {

std::wstring WidePath(const std::string& utf8) {
  if (utf8.empty()) return {};
  const int n = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(),
                                      static_cast<int>(utf8.size()), nullptr, 0);
  if (n <= 0) return {};
  std::wstring wide(static_cast<size_t>(n), L'\0');
  ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), static_cast<int>(utf8.size()),
                        wide.data(), n);
  return wide;
}

std::string Utf8Text(const std::wstring& wide) {
  if (wide.empty()) return {};
  const int n = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0,
                                      nullptr, nullptr);
  if (n <= 0) return {};
  std::string text(static_cast<size_t>(n), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), text.data(), n, nullptr,
                        nullptr);
  return text;
}

int ErrnoFromWindowsError(unsigned long error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
      return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      return EACCES;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return EEXIST;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
      return ENOMEM;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return ENOSPC;
    case ERROR_INVALID_PARAMETER:
    case ERROR_INVALID_NAME:
    case ERROR_NO_UNICODE_TRANSLATION:
      return EINVAL;
    default:
      return EIO;
  }
}

int OpenFile(const std::string& path, int flags, int mode) {
  const std::wstring wide = WidePath(path);
  if (wide.empty()) {
    errno = path.empty() ? ENOENT : EINVAL;
    return -1;
  }
  return ::_wopen(wide.c_str(), flags | _O_BINARY | _O_NOINHERIT, mode);
}

long long TransferAt(void* handle, bool write, void* buffer, size_t length, uint64_t offset) {
  auto* bytes = static_cast<unsigned char*>(buffer);
  size_t total = 0;
  while (total < length) {
    const uint64_t at = offset + total;
    OVERLAPPED where{};
    where.Offset = static_cast<DWORD>(at & 0xFFFFFFFFu);
    where.OffsetHigh = static_cast<DWORD>(at >> 32);
    const size_t left = length - total;
    const DWORD piece = left > (1u << 30) ? (1u << 30) : static_cast<DWORD>(left);
    DWORD moved = 0;
    const BOOL ok = write ? ::WriteFile(handle, bytes + total, piece, &moved, &where)
                          : ::ReadFile(handle, bytes + total, piece, &moved, &where);
    if (!ok) {
      const DWORD error = ::GetLastError();
      if (error == ERROR_HANDLE_EOF || total > 0) break;
      errno = ErrnoFromWindowsError(error);
      return -1;
    }
    if (moved == 0) break;
    total += moved;
  }
  return static_cast<long long>(total);
}

namespace {

void* HandleOf(int fd) {
  const auto handle = reinterpret_cast<HANDLE>(::_get_osfhandle(fd));
  if (handle == INVALID_HANDLE_VALUE) errno = EBADF;
  return handle;
}

}  // namespace

long long ReadFileAt(int fd, void* buffer, size_t length, uint64_t offset) {
  void* handle = HandleOf(fd);
  return handle == INVALID_HANDLE_VALUE ? -1 : TransferAt(handle, false, buffer, length, offset);
}

long long WriteFileAt(int fd, const void* buffer, size_t length, uint64_t offset) {
  void* handle = HandleOf(fd);
  return handle == INVALID_HANDLE_VALUE ? -1
                                        : TransferAt(handle, true, const_cast<void*>(buffer), length, offset);
}

int RenameReplacing(const std::string& from, const std::string& to) {
  const std::wstring wide_from = WidePath(from);
  const std::wstring wide_to = WidePath(to);
  if (wide_from.empty() || wide_to.empty()) {
    errno = EINVAL;
    return -1;
  }
  if (::MoveFileExW(wide_from.c_str(), wide_to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) !=
      0)
    return 0;
  errno = ErrnoFromWindowsError(::GetLastError());
  return -1;
}

}  // namespace lyr
