#pragma once

#include "win/app_icon_pixels.h"
#include "win/win32.h"

namespace morlane::win {

// The picture as an icon of size x size pixels; the caller destroys it.
HICON MakeAppIcon(int size);

}  // namespace morlane::win
