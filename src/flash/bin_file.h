#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace morlane {

// Inverter image files (*.bin): 0x08 0xAA, a 20-byte header nobody here interprets, then
// sections from offset 22: a word count N, a target word address, N words, all
// big-endian. A tail shorter than 3 bytes (the usual 2-byte count of 0) ends the list.
inline constexpr int kMaxSections = 24;
inline constexpr uint64_t kSectionsOffset = 22;

struct BinSection {
  uint32_t address = 0;  // target word address
  uint64_t start = 0;    // file offset of the first data byte
  uint64_t end = 0;      // start + 2N
  uint32_t Words() const { return static_cast<uint32_t>((end - start) / 2); }
};

struct SectionTable {
  std::array<BinSection, kMaxSections> sections{};
  int count = 0;
};

// 1 when the file opens and its first two bytes are 0x08 0xAA.
int CheckBinFile(const std::string& path);

// The sections in file order, at most the 24 the table holds; stops at the first file
// error with those read so far. Returns the count.
int ReadSections(const std::string& path, SectionTable& table);
// The same, of an image already read into memory.
int ReadSections(const uint8_t* data, uint64_t size, SectionTable& table);

// Whether an image can be programmed as a whole: it is judged before the CPU is selected
// and erased, so that a broken file never leaves a CPU without firmware.
enum class ImageVerdict {
  Sound,
  Unreadable,
  NotAnImage,  // first two bytes are not 0x08 0xAA
  NoSections,
  TooManySections,  // more than the 24 the section table holds
  SectionPastEnd,   // a section's data (or header) runs past the end of the file
};

struct ImageSurvey {
  ImageVerdict verdict = ImageVerdict::Unreadable;
  uint64_t fileSize = 0;
  // At most 25: one past the table's size is enough to know the image is refused.
  std::vector<BinSection> sections;
  int badSection = -1;  // index of the section that runs past the end
};

ImageSurvey SurveyImage(const std::string& path);
// The same, of an image already read into memory.
ImageSurvey SurveyImage(const uint8_t* data, uint64_t size);
const char* ImageVerdictText(ImageVerdict verdict);
// The verdict as one word for programs: "unreadable", "not-an-image", "no-sections",
// "too-many-sections", "section-past-end".
const char* ImageVerdictWord(ImageVerdict verdict);

class RunEvents;
// Reports an image refused by its first bytes or its section table, naming which.
void ReportRefusedImage(RunEvents& events, const std::string& path, const ImageSurvey& survey);

}  // namespace morlane
