#pragma once

#include <cstdint>
#include <vector>

#include "win/win32.h"

namespace morlane::win {

// The tool's picture, drawn in code at any size: a blue tile with a white box cut by its
// diagonal, direct current (a solid bar over a dashed one) in the upper left and one
// period of alternating current in the lower right, both in yellow. Pixels as 0xAARRGGBB
// (straight alpha), top row first.
std::vector<uint32_t> AppIconPixels(int size);

// The picture as an icon of size x size pixels; the caller destroys it.
HICON MakeAppIcon(int size);

}  // namespace morlane::win
