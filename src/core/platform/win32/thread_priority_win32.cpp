#include <windows.h>

#include "platform/thread_priority.h"
#include "platform/trace.h"

namespace lyr {

void LowerThisThreadsPriority() {
  if (::SetThreadPriority(::GetCurrentThread(), THREAD_PRIORITY_IDLE) == 0)
    Trace("cannot lower a worker thread's priority\n");
}

}  // namespace lyr
