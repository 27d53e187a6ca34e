#pragma once

#include <functional>
#include <string>

#include "win/win_options.h"

namespace morlane::win {

// morlane.exe --station PROFILE: the station's view until it is closed (running units
// finish first). 2 for a profile the station cannot start with; errors go to report.
int RunStationView(const WinOptions& options,
                   const std::function<void(const std::string&)>& report);

}  // namespace morlane::win
