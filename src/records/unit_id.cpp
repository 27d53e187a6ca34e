#include "records/unit_id.h"

#include <cstdint>

namespace morlane {

namespace {

// The code point at text[at], advancing at; -1 for bytes that are no UTF-8.
int32_t NextCodePoint(std::string_view text, size_t& at) {
  const auto lead = static_cast<uint8_t>(text[at++]);
  if (lead < 0x80) return lead;
  int more = 0;
  int32_t point = 0;
  int32_t least = 0;
  if ((lead & 0xE0) == 0xC0) {
    more = 1;
    point = lead & 0x1F;
    least = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    more = 2;
    point = lead & 0x0F;
    least = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    more = 3;
    point = lead & 0x07;
    least = 0x10000;
  } else {
    return -1;
  }
  for (; more > 0; --more) {
    if (at >= text.size()) return -1;
    const auto next = static_cast<uint8_t>(text[at++]);
    if ((next & 0xC0) != 0x80) return -1;
    point = (point << 6) | (next & 0x3F);
  }
  // Overlong forms, surrogates and points past Unicode are no text.
  if (point < least || point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF)) return -1;
  return point;
}

}  // namespace

std::string UnitIdRefusal(std::string_view text) {
  if (text.empty()) return "an empty unit id";
  size_t characters = 0;
  for (size_t at = 0; at < text.size();) {
    const int32_t point = NextCodePoint(text, at);
    if (point < 0) return "a unit id that is not UTF-8 text";
    if (point < 0x20 || (point >= 0x7F && point <= 0x9F)) {
      return "a unit id with control characters";
    }
    ++characters;
  }
  if (characters > kLongestUnitId) {
    return "a label of " + std::to_string(characters) + " characters is no unit id (at most " +
           std::to_string(kLongestUnitId) + ")";
  }
  return {};
}

}  // namespace morlane
