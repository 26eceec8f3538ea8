#include <windows.h>

#include <cerrno>
#include <thread>

#include "platform/block_device.h"
#include "platform/sector_drive.h"
#include "platform/trace.h"
#include "platform/win32/wide_path.h"

namespace lyr {
namespace {

// "\\.\PhysicalDriveN" (or a file standing in for one) opened without the
// system cache, each write reaching the device before it returns.
class Win32RawDrive final : public SectorDrive {
 public:
  explicit Win32RawDrive(HANDLE handle) : handle_(handle) {}
  ~Win32RawDrive() override { ::CloseHandle(handle_); }

 protected:
  long long ReadSectors(unsigned char* p, size_t len, uint64_t off) override {
    return Aligned(p, len, off) ? TransferAt(handle_, false, p, len, off) : Misaligned();
  }
  long long WriteSectors(const unsigned char* p, size_t len, uint64_t off) override {
    return Aligned(p, len, off) ? TransferAt(handle_, true, const_cast<unsigned char*>(p), len, off)
                                : Misaligned();
  }

 private:
  // Unbuffered transfers need sector-aligned memory, offsets and lengths.
  // Windows refuses others with ERROR_INVALID_PARAMETER; Wine does not, so
  // the check is made here to fail alike everywhere.
  static bool Aligned(const void* p, size_t len, uint64_t off) {
    return reinterpret_cast<uintptr_t>(p) % kSectorSize == 0 && len % kSectorSize == 0 &&
           off % kSectorSize == 0;
  }
  static long long Misaligned() {
    errno = EINVAL;
    return -1;
  }

  HANDLE handle_;
};

}  // namespace

// Windows names no holder of a drive opened without sharing.
std::string DescribeLockHolder(int) { return {}; }

RawDriveOpenResult OpenRawDrive(const std::string& path, std::chrono::milliseconds lock_wait) {
  const std::wstring wide = WidePath(path);
  if (wide.empty()) return Error::Os(EINVAL, "open " + path);
  // No sharing: one program at a time. A program that has just closed the
  // drive, or is about to, gets a moment to let go.
  const auto deadline = std::chrono::steady_clock::now() + lock_wait;
  for (;;) {
    HANDLE handle = ::CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_NO_BUFFERING | FILE_FLAG_WRITE_THROUGH, nullptr);
    if (handle != INVALID_HANDLE_VALUE)
      return std::unique_ptr<BlockDevice>(std::make_unique<Win32RawDrive>(handle));
    const DWORD error = ::GetLastError();
    if (error != ERROR_SHARING_VIOLATION) return Error::Os(ErrnoFromWindowsError(error), "open " + path);
    if (std::chrono::steady_clock::now() >= deadline) return Error::Code(kErrorSharingViolation, {});
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

}  // namespace lyr
