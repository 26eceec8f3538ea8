#include "platform/last_error.h"

namespace lyr {
namespace {
thread_local uint32_t t_last_error = kErrorSuccess;
}

void SetLastError(uint32_t code) { t_last_error = code; }
uint32_t GetLastError() { return t_last_error; }

}  // namespace lyr
