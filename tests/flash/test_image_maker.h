#pragma once

#include <cstdint>
#include <utility>
#include <vector>

namespace morlane::test {

// One section of an inverter image: target word address and its words.
struct ImageSection {
  uint32_t address;
  std::vector<uint16_t> words;
};

// 08 AA, a 20-byte header, the sections, and the closing word count of 0 unless told not
// to write it.
inline std::vector<uint8_t> MakeInverterImage(const std::vector<ImageSection>& sections,
                                              bool closingCount = true) {
  std::vector<uint8_t> out(22, 0x11);
  out[0] = 0x08;
  out[1] = 0xAA;
  auto put16 = [&out](uint32_t v) {
    out.push_back(static_cast<uint8_t>(v >> 8));
    out.push_back(static_cast<uint8_t>(v));
  };
  for (const ImageSection& section : sections) {
    put16(static_cast<uint32_t>(section.words.size()));
    put16(section.address >> 16);
    put16(section.address & 0xFFFF);
    for (uint16_t word : section.words) put16(word);
  }
  if (closingCount) put16(0);
  return out;
}

// n words counting up from first, never the erased value 0xFFFF.
inline std::vector<uint16_t> Words(size_t n, uint16_t first = 0x0100) {
  std::vector<uint16_t> words(n);
  for (size_t i = 0; i < n; ++i) words[i] = static_cast<uint16_t>((first + 7 * i) % 0xFFFF);
  return words;
}

}  // namespace morlane::test
