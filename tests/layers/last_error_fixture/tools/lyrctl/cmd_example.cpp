// A program source that reads the last error itself: the check must refuse it.
#include "platform/last_error.h"

int ExampleReason() { return static_cast<int>(lyr::GetLastError()); }
