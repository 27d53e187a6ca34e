#pragma once

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// S-record lines of the unit's USB firmware, as the sample generators write them.
namespace morlane::samples {

struct Record {
  char type;
  uint16_t address;
  std::vector<uint8_t> data;
};

inline std::string Line(const Record& record, bool lowerCase = false) {
  unsigned count = static_cast<unsigned>(record.data.size()) + 3;
  unsigned sum = count + (record.address >> 8) + (record.address & 0xFF);
  char field[8];
  std::snprintf(field, sizeof field, "%02X%04X", count, record.address);
  std::string line = std::string("S") + record.type + field;
  for (uint8_t byte : record.data) {
    std::snprintf(field, sizeof field, "%02X", byte);
    line += field;
    sum += byte;
  }
  std::snprintf(field, sizeof field, "%02X", ~sum & 0xFF);
  line += field;
  if (lowerCase) {
    for (size_t i = 2; i < line.size(); ++i) {
      line[i] = static_cast<char>(std::tolower(static_cast<unsigned char>(line[i])));
    }
  }
  return line;
}

// The data bytes are a fixed pattern of the address, so every run writes the same files.
inline std::vector<uint8_t> Pattern(uint16_t address, int n) {
  std::vector<uint8_t> bytes;
  for (int i = 0; i < n; ++i) bytes.push_back(static_cast<uint8_t>((address + i) * 7 + 3));
  return bytes;
}

inline Record Header() {
  std::string name = "morlane usb";
  return Record{'0', 0, std::vector<uint8_t>(name.begin(), name.end())};
}

inline const Record kEnd{'9', 0, {}};

// A stretch of 16-byte records from first up to (not including) end.
inline void Stretch(std::vector<Record>& records, uint32_t first, uint32_t end) {
  for (uint32_t a = first; a < end; a += 16) {
    records.push_back(Record{'1', static_cast<uint16_t>(a), Pattern(static_cast<uint16_t>(a), 16)});
  }
}

// The records as a file's text, each line ended as given.
inline std::string Text(const std::vector<Record>& records, bool lowerCase = false,
                        const char* ending = "\r\n") {
  std::string text;
  for (const Record& record : records) text += Line(record, lowerCase) + ending;
  return text;
}

}  // namespace morlane::samples
