#include "flash/bin_file.h"

#include <sys/stat.h>

#include <cstdio>
#include <memory>

#include "flash/be_bytes.h"

namespace morlane {

namespace {

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

File OpenForReading(const std::string& path, uint64_t* size) {
  File file(std::fopen(path.c_str(), "rb"));
  if (!file) return nullptr;
  struct stat info {};
  if (fstat(fileno(file.get()), &info) != 0 || !S_ISREG(info.st_mode)) return nullptr;
  *size = static_cast<uint64_t>(info.st_size);
  return file;
}

bool ReadAt(std::FILE* file, uint64_t offset, uint8_t* into, size_t count) {
  if (fseeko(file, static_cast<off_t>(offset), SEEK_SET) != 0) return false;
  return std::fread(into, 1, count, file) == count;
}

// Walks the section list. Each section is handed to take(); the walk stops when take()
// returns false, at a file error, or when fewer than 3 bytes remain. partialHeader is set
// when a tail of 3 to 5 bytes announces words whose address is missing.
template <typename Take>
void WalkSections(std::FILE* file, uint64_t size, Take take, bool* partialHeader) {
  uint64_t offset = kSectionsOffset;
  while (size > offset && size - offset >= 3) {
    uint8_t head[6];
    if (!ReadAt(file, offset, head, 2)) return;
    uint16_t words = GetBe16(head);
    if (size - offset < 6 || std::fread(head + 2, 1, 4, file) != 4) {
      if (partialHeader && words != 0) *partialHeader = true;
      return;
    }
    BinSection section;
    section.address = GetBe32(head + 2);
    section.start = offset + 6;
    section.end = section.start + 2 * static_cast<uint64_t>(words);
    if (!take(section)) return;
    offset = section.end;
  }
}

}  // namespace

int CheckBinFile(const std::string& path) {
  uint64_t size = 0;
  File file = OpenForReading(path, &size);
  if (!file) return 0;
  uint8_t mark[2] = {};
  if (std::fread(mark, 1, 2, file.get()) != 2) return 0;
  return mark[0] == 0x08 && mark[1] == 0xAA ? 1 : 0;
}

int ReadSections(const std::string& path, SectionTable& table) {
  table.count = 0;
  uint64_t size = 0;
  File file = OpenForReading(path, &size);
  if (!file || size <= kSectionsOffset) return 0;
  WalkSections(
      file.get(), size,
      [&table](const BinSection& section) {
        if (table.count >= kMaxSections) return false;
        table.sections[static_cast<size_t>(table.count++)] = section;
        return true;
      },
      nullptr);
  return table.count;
}

ImageSurvey SurveyImage(const std::string& path) {
  ImageSurvey survey;
  File file = OpenForReading(path, &survey.fileSize);
  if (!file) return survey;
  uint8_t mark[2] = {};
  if (std::fread(mark, 1, 2, file.get()) != 2 || mark[0] != 0x08 || mark[1] != 0xAA) {
    survey.verdict = ImageVerdict::NotAnImage;
    return survey;
  }
  bool partialHeader = false;
  WalkSections(
      file.get(), survey.fileSize,
      [&survey](const BinSection& section) {
        survey.sections.push_back(section);
        return survey.sections.size() <= static_cast<size_t>(kMaxSections);
      },
      &partialHeader);
  survey.verdict = ImageVerdict::Sound;
  for (size_t i = 0; i < survey.sections.size(); ++i) {
    if (survey.sections[i].end > survey.fileSize) {
      survey.verdict = ImageVerdict::SectionPastEnd;
      survey.badSection = static_cast<int>(i);
      return survey;
    }
  }
  if (survey.sections.size() > static_cast<size_t>(kMaxSections)) {
    survey.verdict = ImageVerdict::TooManySections;
  } else if (partialHeader) {
    survey.verdict = ImageVerdict::SectionPastEnd;
    survey.badSection = static_cast<int>(survey.sections.size());
  } else if (survey.sections.empty()) {
    survey.verdict = ImageVerdict::NoSections;
  }
  return survey;
}

const char* ImageVerdictText(ImageVerdict verdict) {
  switch (verdict) {
    case ImageVerdict::Sound:
      return "sound";
    case ImageVerdict::Unreadable:
      return "cannot be read";
    case ImageVerdict::NotAnImage:
      return "not an inverter image (does not begin with 08 AA)";
    case ImageVerdict::NoSections:
      return "no sections";
    case ImageVerdict::TooManySections:
      return "more than 24 sections";
    case ImageVerdict::SectionPastEnd:
      return "a section runs past the end of the file";
  }
  return "cannot be read";
}

}  // namespace morlane
