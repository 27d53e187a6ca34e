#pragma once

#include <cstdint>
#include <vector>

// Plain C++ without the system's headers: the build also draws the programs' icon
// resource with it, on the machine that builds them.
namespace morlane::win {

// The tool's picture, drawn in code at any size: a blue tile with a white box cut by its
// diagonal, direct current (a solid bar over a dashed one) in the upper left and one
// period of alternating current in the lower right, both in yellow. Pixels as 0xAARRGGBB
// (straight alpha), top row first.
std::vector<uint32_t> AppIconPixels(int size);

}  // namespace morlane::win
