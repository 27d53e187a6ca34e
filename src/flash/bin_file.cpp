#include "flash/bin_file.h"

#include <cstring>
#include <memory>

#include "flash/be_bytes.h"
#include "platform/file_io.h"
#include "ui/run_events.h"

namespace morlane {

namespace {

bool OpenForReading(InputFile& file, const std::string& path, uint64_t* size) {
  if (!file.Open(path)) return false;
  *size = file.Size();
  return true;
}

// The image's bytes already in memory, read as the file would be.
struct MemorySource {
  const uint8_t* data;
  uint64_t size;
  bool ReadAt(uint64_t offset, void* into, size_t count) const {
    if (offset > size || count > size - offset) return false;
    std::memcpy(into, data + offset, count);
    return true;
  }
};

// Walks the section list. Each section is handed to take(); the walk stops when take()
// returns false, at a file error, or when fewer than 3 bytes remain. partialHeader is set
// when a tail of 3 to 5 bytes announces words whose address is missing.
template <typename Source, typename Take>
void WalkSections(Source& file, uint64_t size, Take take, bool* partialHeader) {
  uint64_t offset = kSectionsOffset;
  while (size > offset && size - offset >= 3) {
    uint8_t head[6];
    if (!file.ReadAt(offset, head, 2)) return;
    uint16_t words = GetBe16(head);
    if (size - offset < 6 || !file.ReadAt(offset + 2, head + 2, 4)) {
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
  InputFile file;
  if (!OpenForReading(file, path, &size)) return 0;
  uint8_t mark[2] = {};
  if (!file.ReadAt(0, mark, 2)) return 0;
  return mark[0] == 0x08 && mark[1] == 0xAA ? 1 : 0;
}

int ReadSections(const std::string& path, SectionTable& table) {
  table.count = 0;
  uint64_t size = 0;
  InputFile file;
  if (!OpenForReading(file, path, &size) || size <= kSectionsOffset) return 0;
  WalkSections(
      file, size,
      [&table](const BinSection& section) {
        if (table.count >= kMaxSections) return false;
        table.sections[static_cast<size_t>(table.count++)] = section;
        return true;
      },
      nullptr);
  return table.count;
}

int ReadSections(const uint8_t* data, uint64_t size, SectionTable& table) {
  table.count = 0;
  if (!data || size <= kSectionsOffset) return 0;
  MemorySource source{data, size};
  WalkSections(
      source, size,
      [&table](const BinSection& section) {
        if (table.count >= kMaxSections) return false;
        table.sections[static_cast<size_t>(table.count++)] = section;
        return true;
      },
      nullptr);
  return table.count;
}

namespace {

template <typename Source>
ImageSurvey SurveySource(Source& file, uint64_t size) {
  ImageSurvey survey;
  survey.fileSize = size;
  uint8_t mark[2] = {};
  if (!file.ReadAt(0, mark, 2) || mark[0] != 0x08 || mark[1] != 0xAA) {
    survey.verdict = ImageVerdict::NotAnImage;
    return survey;
  }
  bool partialHeader = false;
  WalkSections(
      file, survey.fileSize,
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

}  // namespace

ImageSurvey SurveyImage(const std::string& path) {
  InputFile file;
  uint64_t size = 0;
  if (!OpenForReading(file, path, &size)) return ImageSurvey{};
  return SurveySource(file, size);
}

ImageSurvey SurveyImage(const uint8_t* data, uint64_t size) {
  MemorySource source{data, size};
  return SurveySource(source, size);
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

const char* ImageVerdictWord(ImageVerdict verdict) {
  switch (verdict) {
    case ImageVerdict::Sound:
      return "sound";
    case ImageVerdict::Unreadable:
      break;
    case ImageVerdict::NotAnImage:
      return "not-an-image";
    case ImageVerdict::NoSections:
      return "no-sections";
    case ImageVerdict::TooManySections:
      return "too-many-sections";
    case ImageVerdict::SectionPastEnd:
      return "section-past-end";
  }
  return "unreadable";
}

void ReportRefusedImage(RunEvents& events, const std::string& path, const ImageSurvey& survey) {
  if (!events.Listening()) return;
  std::string detail = ImageVerdictText(survey.verdict);
  if (survey.badSection >= 0) detail += " (section " + std::to_string(survey.badSection + 1) + ")";
  events.Report(event::Refused{path, ImageVerdictWord(survey.verdict), 0, detail});
}

}  // namespace morlane
