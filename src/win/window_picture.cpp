#include "win/window_picture.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <fstream>

#include "platform/utf8_path.h"
#include "win/le_bytes.h"

namespace morlane::win {

namespace {

void Put32Big(std::vector<uint8_t>& out, uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(value >> shift));
}

uint32_t Crc32(const uint8_t* data, size_t size) {
  static const std::array<uint32_t, 256> table = [] {
    std::array<uint32_t, 256> t{};
    for (uint32_t n = 0; n < 256; ++n) {
      uint32_t c = n;
      for (int k = 0; k < 8; ++k) c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[n] = c;
    }
    return t;
  }();
  uint32_t crc = 0xFFFFFFFFu;
  for (size_t i = 0; i < size; ++i) crc = table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
  return crc ^ 0xFFFFFFFFu;
}

void PngChunk(std::vector<uint8_t>& out, const char* type, const std::vector<uint8_t>& data) {
  Put32Big(out, static_cast<uint32_t>(data.size()));
  size_t start = out.size();
  out.insert(out.end(), type, type + 4);
  out.insert(out.end(), data.begin(), data.end());
  Put32Big(out, Crc32(out.data() + start, out.size() - start));
}

bool EndsWithPng(const std::string& path) {
  if (path.size() < 4) return false;
  std::string tail = path.substr(path.size() - 4);
  std::transform(tail.begin(), tail.end(), tail.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return tail == ".png";
}

}  // namespace

Picture CaptureClient(HWND window) {
  Picture picture;
  RECT client{};
  if (!window || !GetClientRect(window, &client)) return picture;
  const int width = client.right - client.left, height = client.bottom - client.top;
  if (width <= 0 || height <= 0) return picture;
  // Everything drawn before it is read.
  RedrawWindow(window, nullptr, nullptr,
               RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);

  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  HDC source = GetDC(window);
  HDC memory = CreateCompatibleDC(source);
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(source, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (memory && bitmap && bits) {
    HGDIOBJ old = SelectObject(memory, bitmap);
    if (BitBlt(memory, 0, 0, width, height, source, 0, 0, SRCCOPY)) {
      GdiFlush();
      const auto* raw = static_cast<const uint32_t*>(bits);
      picture.width = width;
      picture.height = height;
      picture.pixels.resize(static_cast<size_t>(width) * height);
      std::transform(raw, raw + picture.pixels.size(), picture.pixels.begin(),
                     [](uint32_t p) { return p & 0xFFFFFF; });
    }
    SelectObject(memory, old);
  }
  if (bitmap) DeleteObject(bitmap);
  if (memory) DeleteDC(memory);
  ReleaseDC(window, source);
  return picture;
}

void LayOver(Picture& base, const Picture& top, int x, int y) {
  for (int row = 0; row < top.height; ++row) {
    const int to = y + row;
    if (to < 0 || to >= base.height) continue;
    for (int column = 0; column < top.width; ++column) {
      const int across = x + column;
      if (across < 0 || across >= base.width) continue;
      base.pixels[static_cast<size_t>(to) * base.width + across] =
          top.pixels[static_cast<size_t>(row) * top.width + column];
    }
  }
}

std::vector<uint8_t> EncodeBmp(const Picture& picture) {
  const uint32_t row = static_cast<uint32_t>((picture.width * 3 + 3) & ~3);
  const uint32_t imageSize = row * static_cast<uint32_t>(picture.height);
  std::vector<uint8_t> out;
  out.reserve(54 + imageSize);
  out.push_back('B');
  out.push_back('M');
  Put32(out, 54 + imageSize);
  Put32(out, 0);
  Put32(out, 54);
  Put32(out, 40);
  Put32(out, static_cast<uint32_t>(picture.width));
  Put32(out, static_cast<uint32_t>(picture.height));  // bottom row first
  Put16(out, 1);
  Put16(out, 24);
  Put32(out, BI_RGB);
  Put32(out, imageSize);
  Put32(out, 3780);  // 96 dots per inch
  Put32(out, 3780);
  Put32(out, 0);
  Put32(out, 0);
  for (int y = picture.height - 1; y >= 0; --y) {
    size_t start = out.size();
    for (int x = 0; x < picture.width; ++x) {
      uint32_t p = picture.pixels[static_cast<size_t>(y) * picture.width + x];
      out.push_back(static_cast<uint8_t>(p));
      out.push_back(static_cast<uint8_t>(p >> 8));
      out.push_back(static_cast<uint8_t>(p >> 16));
    }
    out.resize(start + row, 0);
  }
  return out;
}

std::vector<uint8_t> EncodePng(const Picture& picture) {
  // Scanlines without filtering, in stored (uncompressed) deflate blocks: a window picture
  // is small, and this needs no compressor.
  std::vector<uint8_t> raw;
  raw.reserve(static_cast<size_t>(picture.width * 3 + 1) * picture.height);
  for (int y = 0; y < picture.height; ++y) {
    raw.push_back(0);
    for (int x = 0; x < picture.width; ++x) {
      uint32_t p = picture.pixels[static_cast<size_t>(y) * picture.width + x];
      raw.push_back(static_cast<uint8_t>(p >> 16));
      raw.push_back(static_cast<uint8_t>(p >> 8));
      raw.push_back(static_cast<uint8_t>(p));
    }
  }
  std::vector<uint8_t> zlib{0x78, 0x01};
  size_t at = 0;
  do {
    size_t block = std::min<size_t>(raw.size() - at, 65535);
    zlib.push_back(at + block == raw.size() ? 1 : 0);
    Put16(zlib, static_cast<uint32_t>(block));
    Put16(zlib, static_cast<uint32_t>(~block & 0xFFFF));
    zlib.insert(zlib.end(), raw.begin() + static_cast<std::ptrdiff_t>(at),
                raw.begin() + static_cast<std::ptrdiff_t>(at + block));
    at += block;
  } while (at < raw.size());
  uint32_t a = 1, b = 0;
  for (uint8_t byte : raw) {
    a = (a + byte) % 65521;
    b = (b + a) % 65521;
  }
  Put32Big(zlib, b << 16 | a);

  std::vector<uint8_t> out{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  std::vector<uint8_t> header;
  Put32Big(header, static_cast<uint32_t>(picture.width));
  Put32Big(header, static_cast<uint32_t>(picture.height));
  header.insert(header.end(), {8, 2, 0, 0, 0});  // 8 bits, RGB
  PngChunk(out, "IHDR", header);
  PngChunk(out, "IDAT", zlib);
  PngChunk(out, "IEND", {});
  return out;
}

bool SavePicture(const Picture& picture, const std::string& path) {
  if (picture.width <= 0 || picture.height <= 0) return false;
  std::vector<uint8_t> bytes = EndsWithPng(path) ? EncodePng(picture) : EncodeBmp(picture);
  std::ofstream file(PathFromUtf8(path), std::ios::binary | std::ios::trunc);
  file.write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
  file.close();
  return static_cast<bool>(file);
}

}  // namespace morlane::win
