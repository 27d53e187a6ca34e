#pragma once

#include <mutex>

#include "link/dialog_context.h"

namespace morlane {

// "Send": the typed command over the open link, and the unit's answer in the log.
// linkMutex keeps the exchange apart from the automatic test's, which may be running on
// the same link. Returns 1 when an answer was logged.
int SendSingleCommand(DialogContext& context, std::mutex& linkMutex);

}  // namespace morlane
