#include <windows.h>

#include "platform/priority.h"

namespace morlane {

// Without the privilege for the real-time class Windows grants the high class instead,
// which is the most an ordinary user can have.
bool RaiseProcessPriority() {
  return SetPriorityClass(GetCurrentProcess(), REALTIME_PRIORITY_CLASS) != 0;
}

bool RaiseThreadPriorityTimeCritical() {
  return SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL) != 0;
}

}  // namespace morlane
