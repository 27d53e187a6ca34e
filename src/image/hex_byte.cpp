#include "image/hex_byte.h"

namespace morlane {

namespace {

int DigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

}  // namespace

int HexByte(std::string_view text) {
  if (text.size() != 2) return 0;
  int high = DigitValue(text[0]);
  int low = DigitValue(text[1]);
  if (high < 0 || low < 0) return 0;
  return high * 16 + low;
}

}  // namespace morlane
