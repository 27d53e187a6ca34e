#pragma once

namespace morlane {

// Raise the process, or the calling thread, as far as the system allows without
// privileges; both return false when refused, which callers ignore.
bool RaiseProcessPriority();
bool RaiseThreadPriorityTimeCritical();

}  // namespace morlane
