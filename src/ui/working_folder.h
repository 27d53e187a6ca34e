#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace morlane {

// The window's caption with the dialog's working folder, as the system writes the folder:
// "Morlane V1.0 - /home/ann/units", "Morlane V1.0 - C:\Units". Without a folder, the
// caption alone. With the simulated unit the words come before the folder, where a long
// folder cannot push them out of sight: "Morlane V1.0 - SIMULATED UNIT - C:\Units".
std::string CaptionWithFolder(std::string_view caption, const std::filesystem::path& folder,
                              bool simulatedUnit = false);

// The folder a window starts in: the one the user chose last (remembered, UTF-8) while it
// is still a folder, else the current directory, as a window started from a terminal or
// a shortcut's "Start in" expects. A folder that went away (an unplugged stick, a
// renamed share) is forgotten quietly rather than searched in vain.
std::filesystem::path StartFolder(std::string_view rememberedUtf8);

}  // namespace morlane
