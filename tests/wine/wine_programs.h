#pragma once

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace morlane::test {

// The Windows build's command line (MORLANE_WINDOWS_CLI names another).
inline std::string WindowsCli() {
  const char* given = std::getenv("MORLANE_WINDOWS_CLI");
  return given ? given : MORLANE_WINDOWS_CLI;
}

// The Windows build's window, in the folder beside the command line's.
inline std::string WindowsWindow() {
  return (std::filesystem::path(WindowsCli()).parent_path() / "win" / "morlane.exe").string();
}

// The Wine prefix the runners take: MORLANE_WINEPREFIX, else the user's own in the
// temporary folder.
inline std::string WinePrefix() {
  const char* given = std::getenv("MORLANE_WINEPREFIX");
  return given ? std::string(given)
               : std::filesystem::temp_directory_path().string() + "/morlane-wine-" +
                     std::to_string(getuid());
}

}  // namespace morlane::test
