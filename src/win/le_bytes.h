#pragma once

// Little-endian writers for the files the Windows programs make (bitmaps, icons). Free of
// the system's headers, so that the icon tool built for the build machine shares them.
#include <cstdint>
#include <vector>

namespace morlane::win {

inline void Put16(std::vector<uint8_t>& out, uint32_t value) {
  out.push_back(static_cast<uint8_t>(value));
  out.push_back(static_cast<uint8_t>(value >> 8));
}

inline void Put32(std::vector<uint8_t>& out, uint32_t value) {
  Put16(out, value & 0xFFFF);
  Put16(out, value >> 16);
}

}  // namespace morlane::win
