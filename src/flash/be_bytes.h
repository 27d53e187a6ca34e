#pragma once

#include <cstdint>

namespace morlane {

// Multi-byte fields on the bootloader wire and in the image files are big-endian.
inline void PutBe16(uint8_t* at, uint32_t value) {
  at[0] = static_cast<uint8_t>((value >> 8) & 0xFF);
  at[1] = static_cast<uint8_t>(value & 0xFF);
}

inline void PutBe32(uint8_t* at, uint32_t value) {
  at[0] = static_cast<uint8_t>((value >> 24) & 0xFF);
  at[1] = static_cast<uint8_t>((value >> 16) & 0xFF);
  at[2] = static_cast<uint8_t>((value >> 8) & 0xFF);
  at[3] = static_cast<uint8_t>(value & 0xFF);
}

inline uint16_t GetBe16(const uint8_t* at) {
  return static_cast<uint16_t>((at[0] << 8) | at[1]);
}

inline uint32_t GetBe32(const uint8_t* at) {
  return (static_cast<uint32_t>(at[0]) << 24) | (static_cast<uint32_t>(at[1]) << 16) |
         (static_cast<uint32_t>(at[2]) << 8) | static_cast<uint32_t>(at[3]);
}

}  // namespace morlane
