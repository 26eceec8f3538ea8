#include "platform/last_error.h"

namespace lyr {
namespace {
thread_local uint32_t t_last_error = kErrorSuccess;
}

void SetLastError(uint32_t code) { t_last_error = code; }
uint32_t GetLastError() { return t_last_error; }

std::string LastErrorText(uint32_t code) {
  switch (code) {
    case kErrorConnectionUnavail:
      return "the recorder stopped answering (error 1201): check its cable, plug it in again and retry";
    case kErrorCancelled:
      return "cancelled (error 1223)";
    case kErrorNotEnoughMemory:
      return "not enough memory (error 8)";
    default:
      return "error " + std::to_string(code);
  }
}

}  // namespace lyr
