#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace morlane::test {

// S-record lines for the tests, with correct checksums.
inline std::string S19Line(char type, uint16_t address, const std::vector<uint8_t>& data) {
  unsigned count = static_cast<unsigned>(data.size()) + 3;
  unsigned sum = count + (address >> 8) + (address & 0xFF);
  char field[12];
  std::snprintf(field, sizeof field, "S%c%02X%04X", type, count, address);
  std::string line = field;
  for (uint8_t byte : data) {
    std::snprintf(field, sizeof field, "%02X", byte);
    line += field;
    sum += byte;
  }
  std::snprintf(field, sizeof field, "%02X", ~sum & 0xFF);
  return line + field;
}

// n bytes that differ from record to record.
inline std::vector<uint8_t> Bytes(uint16_t address, int n = 16) {
  std::vector<uint8_t> bytes;
  for (int i = 0; i < n; ++i) bytes.push_back(static_cast<uint8_t>((address + i) * 13 + 1));
  return bytes;
}

inline std::string S19Header() {
  return S19Line('0', 0, {'m', 'o', 'r', 'l', 'a', 'n', 'e'});
}
inline std::string S19End() {
  return "S9030000FC";
}

// A file of lines, each ended as given.
inline std::string S19File(const std::vector<std::string>& lines, const std::string& ending) {
  std::string text;
  for (const std::string& line : lines) text += line + ending;
  return text;
}

// Header, 16-byte records at each address, end record.
inline std::vector<std::string> S19Image(const std::vector<uint16_t>& addresses,
                                         bool header = true) {
  std::vector<std::string> lines;
  if (header) lines.push_back(S19Header());
  for (uint16_t a : addresses) lines.push_back(S19Line('1', a, Bytes(a)));
  lines.push_back(S19End());
  return lines;
}

// Every 16-byte address from first up to (not including) end.
inline std::vector<uint16_t> Span(uint32_t first, uint32_t end) {
  std::vector<uint16_t> addresses;
  for (uint32_t a = first; a < end; a += 16) addresses.push_back(static_cast<uint16_t>(a));
  return addresses;
}

}  // namespace morlane::test
