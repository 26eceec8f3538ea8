#pragma once
#include <cstdint>
#include <string>

namespace lyr {

// The thread's last error, with the Windows numbers the system's callers test.
constexpr uint32_t kErrorSuccess = 0;
constexpr uint32_t kErrorFileNotFound = 2;
constexpr uint32_t kErrorPathNotFound = 3;
constexpr uint32_t kErrorNotEnoughMemory = 8;
constexpr uint32_t kErrorBadEnvironment = 10;
constexpr uint32_t kErrorInvalidData = 13;
constexpr uint32_t kErrorSharingViolation = 32;
constexpr uint32_t kErrorHandleEof = 38;
constexpr uint32_t kErrorInvalidParameter = 87;
constexpr uint32_t kErrorAlreadyExists = 183;
constexpr uint32_t kErrorIoPending = 997;
constexpr uint32_t kErrorIoDevice = 1117;
constexpr uint32_t kErrorBadDevice = 1200;
constexpr uint32_t kErrorConnectionUnavail = 1201;
constexpr uint32_t kErrorCancelled = 1223;

// What a number means for people, and what they can do about it, with the
// number; "error N" for a number without a text of its own.
std::string LastErrorText(uint32_t code);

void SetLastError(uint32_t code);
uint32_t GetLastError();

}  // namespace lyr
