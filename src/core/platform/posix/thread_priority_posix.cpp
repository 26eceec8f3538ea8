#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

#include "platform/thread_priority.h"
#include "platform/trace.h"

namespace lyr {

void LowerThisThreadsPriority() {
  sched_param param{};
  param.sched_priority = 0;
  if (pthread_setschedparam(pthread_self(), SCHED_IDLE, &param) == 0) return;
  if (setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), 19) != 0)
    Trace("cannot lower a worker thread's priority\n");
}

}  // namespace lyr
