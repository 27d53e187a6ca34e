#pragma once

#include <optional>
#include <string>

#include "win/win32.h"

namespace morlane::win {

// The system's folder dialog, owned by the window, starting at start (UTF-8); the chosen
// folder, or nullopt when cancelled. The process's current directory is left as it was.
std::optional<std::string> RunFolderDialog(HWND owner, const std::string& start);

}  // namespace morlane::win
