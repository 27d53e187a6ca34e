#include "win/app_icon.h"

#include <algorithm>

namespace morlane::win {

HICON MakeAppIcon(int size) {
  if (size <= 0) return nullptr;
  std::vector<uint32_t> pixels = AppIconPixels(size);
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = size;
  info.bmiHeader.biHeight = -size;  // top row first
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HDC screen = GetDC(nullptr);
  HBITMAP color = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  ReleaseDC(nullptr, screen);
  if (!color || !bits) {
    if (color) DeleteObject(color);
    return nullptr;
  }
  std::copy(pixels.begin(), pixels.end(), static_cast<uint32_t*>(bits));
  // With an alpha channel in the colour bitmap the mask is not consulted; all clear.
  std::vector<uint8_t> maskBits(static_cast<size_t>((size + 15) / 16 * 2) * size, 0);
  HBITMAP mask = CreateBitmap(size, size, 1, 1, maskBits.data());
  ICONINFO icon{TRUE, 0, 0, mask, color};
  HICON made = mask ? CreateIconIndirect(&icon) : nullptr;
  if (mask) DeleteObject(mask);
  DeleteObject(color);
  return made;
}

}  // namespace morlane::win
