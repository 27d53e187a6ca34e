// make_ico FILE: the programs' icon resource, drawn by the code the window draws its icon
// with, at the sizes the desktop asks for (small and large icons at 100 % to 200 %, the
// folder views' 256). Each size is a 32-bit image with its alpha channel and an AND mask
// from it, for the places that still draw the mask. Built and run on the machine that
// builds the programs, so it uses nothing of the target system.
#include <cstdint>
#include <cstdio>
#include <vector>

#include "win/app_icon_pixels.h"
#include "win/le_bytes.h"

namespace {

using morlane::win::Put16;
using morlane::win::Put32;

constexpr int kSizes[] = {16, 20, 24, 32, 40, 48, 64, 256};

// BITMAPINFOHEADER (height doubled: colour, then mask), bottom row first.
std::vector<uint8_t> IconImage(int size) {
  const std::vector<uint32_t> pixels = morlane::win::AppIconPixels(size);
  const int maskStride = (size + 31) / 32 * 4;
  std::vector<uint8_t> out;
  Put32(out, 40);
  Put32(out, static_cast<uint32_t>(size));
  Put32(out, static_cast<uint32_t>(size * 2));
  Put16(out, 1);   // planes
  Put16(out, 32);  // bits per pixel
  Put32(out, 0);   // BI_RGB
  Put32(out, static_cast<uint32_t>(size * size * 4 + maskStride * size));
  for (int i = 0; i < 4; ++i) Put32(out, 0);
  for (int y = size - 1; y >= 0; --y) {
    for (int x = 0; x < size; ++x) Put32(out, pixels[static_cast<size_t>(y) * size + x]);
  }
  for (int y = size - 1; y >= 0; --y) {
    std::vector<uint8_t> row(static_cast<size_t>(maskStride), 0);
    for (int x = 0; x < size; ++x) {
      // Transparent where the picture is mostly clear.
      if ((pixels[static_cast<size_t>(y) * size + x] >> 24) < 0x80) {
        row[static_cast<size_t>(x / 8)] |= static_cast<uint8_t>(0x80 >> (x % 8));
      }
    }
    out.insert(out.end(), row.begin(), row.end());
  }
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_ico FILE\n");
    return 2;
  }
  std::vector<std::vector<uint8_t>> images;
  for (int size : kSizes) images.push_back(IconImage(size));

  std::vector<uint8_t> file;
  Put16(file, 0);  // reserved
  Put16(file, 1);  // an icon
  Put16(file, static_cast<uint32_t>(images.size()));
  uint32_t offset = 6 + 16 * static_cast<uint32_t>(images.size());
  for (size_t i = 0; i < images.size(); ++i) {
    const int size = kSizes[i];
    file.push_back(static_cast<uint8_t>(size >= 256 ? 0 : size));  // 0 means 256
    file.push_back(static_cast<uint8_t>(size >= 256 ? 0 : size));
    file.push_back(0);  // no palette
    file.push_back(0);
    Put16(file, 1);   // planes
    Put16(file, 32);  // bits per pixel
    Put32(file, static_cast<uint32_t>(images[i].size()));
    Put32(file, offset);
    offset += static_cast<uint32_t>(images[i].size());
  }
  for (const auto& image : images) file.insert(file.end(), image.begin(), image.end());

  std::FILE* out = std::fopen(argv[1], "wb");
  if (!out) {
    std::fprintf(stderr, "make_ico: cannot write %s\n", argv[1]);
    return 1;
  }
  const bool written = std::fwrite(file.data(), 1, file.size(), out) == file.size();
  if (std::fclose(out) != 0 || !written) {
    std::fprintf(stderr, "make_ico: cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
