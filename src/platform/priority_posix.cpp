#include "platform/priority.h"

#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>

namespace morlane {

bool RaiseProcessPriority() {
  // The real-time class has no unprivileged equivalent; the best nice value the
  // limits allow is the closest stand-in.
  int lowest = getpriority(PRIO_PROCESS, 0);
  bool raised = false;
  for (int nice = -20; nice < lowest; ++nice) {
    if (setpriority(PRIO_PROCESS, 0, nice) == 0) {
      raised = true;
      break;
    }
  }
  return raised;
}

bool RaiseThreadPriorityTimeCritical() {
  sched_param param{};
  param.sched_priority = sched_get_priority_max(SCHED_FIFO);
  return pthread_setschedparam(pthread_self(), SCHED_FIFO, &param) == 0;
}

}  // namespace morlane
