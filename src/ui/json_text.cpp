#include "ui/json_text.h"

#include <cstdio>

namespace morlane {

namespace {

// The length of the well-formed UTF-8 sequence of two to four bytes at text[at], or 0.
// Overlong forms, surrogates and code points past U+10FFFF are not well-formed.
size_t Utf8SequenceAt(std::string_view text, size_t at) {
  auto byte = [&text](size_t i) { return static_cast<unsigned char>(text[i]); };
  auto continuation = [&](size_t i) { return i < text.size() && (byte(i) & 0xC0) == 0x80; };
  const unsigned char lead = byte(at);
  if (lead >= 0xC2 && lead <= 0xDF) return continuation(at + 1) ? 2 : 0;
  if (lead >= 0xE0 && lead <= 0xEF) {
    if (!continuation(at + 1) || !continuation(at + 2)) return 0;
    const unsigned char second = byte(at + 1);
    if (lead == 0xE0 && second < 0xA0) return 0;   // overlong
    if (lead == 0xED && second >= 0xA0) return 0;  // surrogate
    return 3;
  }
  if (lead >= 0xF0 && lead <= 0xF4) {
    if (!continuation(at + 1) || !continuation(at + 2) || !continuation(at + 3)) return 0;
    const unsigned char second = byte(at + 1);
    if (lead == 0xF0 && second < 0x90) return 0;   // overlong
    if (lead == 0xF4 && second >= 0x90) return 0;  // past U+10FFFF
    return 4;
  }
  return 0;
}

void Escape(std::string& out, unsigned char c) {
  char escaped[8];
  std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
  out += escaped;
}

// Hands each well-formed multi-byte UTF-8 sequence to whole() and every other byte, ASCII
// or stray, to byte().
template <typename Whole, typename Byte>
void WalkUtf8(std::string_view text, Whole whole, Byte byte) {
  for (size_t i = 0; i < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    const size_t length = c >= 0x80 ? Utf8SequenceAt(text, i) : 0;
    if (length) {
      whole(text.substr(i, length));
      i += length - 1;
    } else {
      byte(c);
    }
  }
}

}  // namespace

std::string JsonString(std::string_view text) {
  std::string out = "\"";
  auto whole = [&out](std::string_view sequence) { out.append(sequence); };
  WalkUtf8(text, whole, [&out](unsigned char c) {
    switch (c) {
      case '"':
        out += "\\\"";
        return;
      case '\\':
        out += "\\\\";
        return;
      case '\n':
        out += "\\n";
        return;
      case '\r':
        out += "\\r";
        return;
      case '\t':
        out += "\\t";
        return;
      case '\b':
        out += "\\b";
        return;
      case '\f':
        out += "\\f";
        return;
      default:
        break;
    }
    if (c < 0x20 || c >= 0x7F) {
      Escape(out, c);
    } else {
      out += static_cast<char>(c);
    }
  });
  out += '"';
  return out;
}

std::string Utf8Text(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  auto whole = [&out](std::string_view sequence) { out.append(sequence); };
  WalkUtf8(text, whole, [&out](unsigned char c) {
    if (c == 0) {
      out += "\xef\xbf\xbd";
    } else if (c < 0x80) {
      out += static_cast<char>(c);
    } else {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  });
  return out;
}

}  // namespace morlane
