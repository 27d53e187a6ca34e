#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "win/win32.h"

namespace morlane::win {

// A picture of a window: 0x00RRGGBB per pixel, top row first.
struct Picture {
  int width = 0;
  int height = 0;
  std::vector<uint32_t> pixels;
};

// The window's client area as it is drawn now, its controls included; empty when it
// cannot be read.
Picture CaptureClient(HWND window);

// top laid over base with its top-left corner at (x, y) of base; what falls outside base
// is left out.
void LayOver(Picture& base, const Picture& top, int x, int y);

// 24-bit BMP, or PNG (RGB, 8 bits) when the name ends in ".png"; false when the file
// could not be written.
bool SavePicture(const Picture& picture, const std::string& path);
std::vector<uint8_t> EncodeBmp(const Picture& picture);
std::vector<uint8_t> EncodePng(const Picture& picture);

}  // namespace morlane::win
