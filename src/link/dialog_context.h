#pragma once

#include <filesystem>
#include <string_view>

#include "link/device_session.h"
#include "platform/clock.h"
#include "platform/utf8_path.h"
#include "ui/dialog_values.h"
#include "ui/run_events.h"
#include "ui/window.h"

namespace morlane {

// What the dialog hands its procedures: the window, the clock, the session with both
// links, its bound values, the firmware selection and where the procedures report their
// typed events. All of them belong to the dialog.
struct DialogContext {
  Window& window;
  Clock& clock;
  DeviceSession& session;
  DialogValues& values;
  FirmwareSelection& selection;
  // The dialog's working directory: where the image files are searched and tmp.txt,
  // tmp.bin and MCUlog.txt are read and written. Empty means the process's current
  // directory, as a single window started in a folder has it. Several dialogs in one
  // process each have their own; nothing changes the process's current directory.
  const std::filesystem::path& workingDir;
  RunEvents& events;

  std::filesystem::path InWorkingDir(std::string_view name) const {
    return workingDir.empty() ? PathFromUtf8(name) : workingDir / PathFromUtf8(name);
  }
};

}  // namespace morlane
