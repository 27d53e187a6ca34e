#pragma once

#include "link/device_session.h"
#include "platform/clock.h"
#include "ui/dialog_values.h"
#include "ui/window.h"

namespace morlane {

// What the dialog hands its procedures: the window, the clock, the session with both
// links, its bound values and the firmware selection. All of them belong to the dialog.
struct DialogContext {
  Window& window;
  Clock& clock;
  DeviceSession& session;
  DialogValues& values;
  FirmwareSelection& selection;
};

}  // namespace morlane
