#include "package/ssh_wire.h"

#include <array>

namespace morlane::package::wire {

bool Reader::U32(uint32_t* value) {
  std::span<const uint8_t> raw;
  if (!Fixed(4, &raw)) return false;
  *value = (uint32_t{raw[0]} << 24) | (uint32_t{raw[1]} << 16) | (uint32_t{raw[2]} << 8) |
           uint32_t{raw[3]};
  return true;
}

bool Reader::Fixed(size_t count, std::span<const uint8_t>* out) {
  // Compared with what is left, never offset_ + count, which a length near 2^32 on a
  // 32-bit size_t would wrap.
  if (count > bytes_.size() - offset_) return false;
  *out = bytes_.subspan(offset_, count);
  offset_ += count;
  return true;
}

bool Reader::String(std::span<const uint8_t>* out) {
  const size_t start = offset_;
  uint32_t length = 0;
  if (!U32(&length) || !Fixed(length, out)) {
    offset_ = start;
    return false;
  }
  return true;
}

bool Reader::Text(std::string* out) {
  std::span<const uint8_t> raw;
  if (!String(&raw)) return false;
  *out = AsText(raw);
  return true;
}

void AppendU32(std::vector<uint8_t>* out, uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) out->push_back(static_cast<uint8_t>(value >> shift));
}

void AppendString(std::vector<uint8_t>* out, std::span<const uint8_t> bytes) {
  AppendU32(out, static_cast<uint32_t>(bytes.size()));
  out->insert(out->end(), bytes.begin(), bytes.end());
}

void AppendString(std::vector<uint8_t>* out, std::string_view text) {
  AppendString(out, AsBytes(text));
}

namespace {

constexpr std::string_view kAlphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int SextetOf(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

}  // namespace

std::string Base64Encode(std::span<const uint8_t> bytes, bool padded) {
  std::string text;
  text.reserve((bytes.size() + 2) / 3 * 4);
  size_t i = 0;
  for (; i + 3 <= bytes.size(); i += 3) {
    const uint32_t group =
        (uint32_t{bytes[i]} << 16) | (uint32_t{bytes[i + 1]} << 8) | bytes[i + 2];
    for (int shift = 18; shift >= 0; shift -= 6) text += kAlphabet[(group >> shift) & 63];
  }
  const size_t rest = bytes.size() - i;
  if (rest > 0) {
    uint32_t group = uint32_t{bytes[i]} << 16;
    if (rest == 2) group |= uint32_t{bytes[i + 1]} << 8;
    text += kAlphabet[(group >> 18) & 63];
    text += kAlphabet[(group >> 12) & 63];
    if (rest == 2) text += kAlphabet[(group >> 6) & 63];
    if (padded) text.append(3 - rest, '=');
  }
  return text;
}

std::optional<std::vector<uint8_t>> Base64Decode(std::string_view text) {
  size_t padding = 0;
  while (padding < 2 && !text.empty() && text.back() == '=') {
    text.remove_suffix(1);
    ++padding;
  }
  // A padded text is whole groups of four; one character alone cannot carry a byte.
  if (padding > 0 && (text.size() + padding) % 4 != 0) return std::nullopt;
  if (text.size() % 4 == 1) return std::nullopt;
  std::vector<uint8_t> bytes;
  bytes.reserve(text.size() / 4 * 3 + 2);
  uint32_t group = 0;
  int bits = 0;
  for (char c : text) {
    const int sextet = SextetOf(c);
    if (sextet < 0) return std::nullopt;
    group = (group << 6) | static_cast<uint32_t>(sextet);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      bytes.push_back(static_cast<uint8_t>(group >> bits));
      group &= (1u << bits) - 1;
    }
  }
  return bytes;
}

}  // namespace morlane::package::wire
