// The S-record reader. It is deliberately narrow: S0, S1 and S9 lines only, data kept as
// text, no checksum or length test. The units' S-record files come from one tool chain.
#include <filesystem>
#include <new>
#include <string>
#include <system_error>
#include <utility>

#include "image/hex_byte.h"
#include "image/image_texts.h"
#include "image/xfer_s19.h"
#include "platform/file_io.h"
#include "platform/utf8_path.h"
#include "ui/window.h"

namespace morlane {

namespace {

// Images linked to start at 0xE600 come without the 32 bytes the unit expects at 0xDC80;
// the reader supplies them.
const char kFixedRecordData[] = "FFFFFFFFFFFFFFFFFFFFFFFF45E68CFCFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF";

// No image of the unit's 16-bit address space comes near this: even written one data byte
// per S1 record of the longest line form, 65536 records take under 34 MB. A larger file is
// something else picked by mistake, and is refused before it is read into memory.
constexpr uint64_t kLargestS19File = 64ull << 20;

bool IsBlank(std::string_view line) {
  return line.find_first_not_of(" \t\r") == std::string_view::npos;
}

// Why a file that could not be opened was not: the reader's own open says no more.
void WhyNotOpened(const std::string& path, S19Refusal& refusal) {
  namespace fs = std::filesystem;
  std::error_code error;
  fs::file_status status = fs::status(PathFromUtf8(path), error);
  if (fs::is_directory(status)) {
    refusal = {0, "not-a-file", "it is a folder, not a file"};
  } else if (fs::exists(status) && !fs::is_regular_file(status)) {
    refusal = {0, "not-a-file", "it is a device or a pipe, not a file"};
  } else if (!fs::exists(status)) {
    refusal = {0, "unreadable", "no such file"};
  } else {
    refusal = {0, "unreadable", "the file cannot be opened"};
  }
}

}  // namespace

CXferS19::CXferS19(Window& window) : window_(window) {}

int CXferS19::ParseLine(CS19block& record, std::string_view line) {
  record.type = std::string(line.substr(0, 2));
  if (record.type != "S0" && record.type != "S1" && record.type != "S9") return 0;
  // The end record takes over the fields of the line before it.
  if (record.type == "S9") return 1;

  auto field = [line](size_t pos, size_t n) {
    return pos < line.size() ? line.substr(pos, n) : std::string_view();
  };
  record.count = HexByte(field(2, 2));
  record.address = 256 * HexByte(field(4, 2)) + HexByte(field(6, 2));
  int dataChars = 2 * record.count - 6;
  record.data = dataChars > 0 ? std::string(field(8, static_cast<size_t>(dataChars))) : "";
  record.checksum = HexByte(field(static_cast<size_t>(2 * record.count + 2), 2));
  return 1;
}

int CXferS19::Refuse(int line, const char* reason, std::string detail) {
  refusal = {line, reason, std::move(detail)};
  return 0;
}

int CXferS19::BuildS19BlockList(const std::string& path) {
  refusal = S19Refusal();
  std::string contents;
  WholeFile read = ReadWholeFile(path, &contents, kLargestS19File);
  if (read == WholeFile::NotOpened) {
    window_.MessageBox(std::string(image_text::kReadFileError));
    WhyNotOpened(path, refusal);
    return 0;
  }
  s19BlockList.clear();
  // Too large to be an image: refused as one that did not fit in memory.
  if (read == WholeFile::TooLarge) {
    window_.MessageBox(std::string(image_text::kS19FileErrorA));
    return Refuse(0, "too-large",
                  "the file is larger than the " + std::to_string(kLargestS19File >> 20) +
                      " MiB an image can take");
  }
  // The file is read whole before any line is taken, so a read error leaves no lines.
  if (read == WholeFile::Failed) {
    window_.MessageBox(std::string(image_text::kReadFileError));
    return Refuse(0, "unreadable", "the file could not be read to its end");
  }
  return ParseS19Text(contents);
}

// Names what is wrong with a line ParseLine did not take.
int CXferS19::RefuseLine(int number, std::string_view line) {
  if (IsBlank(line)) {
    return Refuse(number, "blank-line",
                  line.empty() ? "the line is empty" : "the line holds only white space");
  }
  // Files passed through DOS tools may end in its end-of-file byte.
  if (line[0] == '\x1A') {
    return Refuse(number, "record-type", "a DOS end-of-file byte (1A) is no record");
  }
  if (line.size() >= 2 && line[0] == 'S' && line[1] >= '0' && line[1] <= '9') {
    return Refuse(number, "record-type",
                  "record type " + std::string(line.substr(0, 2)) + " is not read");
  }
  return Refuse(number, "record-type", "the line does not begin with S0, S1 or S9");
}

int CXferS19::ParseS19Text(std::string_view contents) {
  refusal = S19Refusal();
  s19BlockList.clear();
  CS19block record;
  int result = 1;
  size_t start = 0;
  int number = 0;
  while (start < contents.size()) {
    ++number;
    size_t end = contents.find('\n', start);
    bool terminated = end != std::string::npos;
    if (!terminated) end = contents.size();
    std::string_view line(contents.data() + start, end - start);
    // Text mode: only a carriage return that stands before a line feed goes.
    if (terminated && !line.empty() && line.back() == '\r') line.remove_suffix(1);
    start = end + 1;
    try {
      if (!ParseLine(record, line)) {
        result = RefuseLine(number, line);
        break;
      }
      record.line = number;
      s19BlockList.push_back(record);
    } catch (const std::bad_alloc&) {
      window_.MessageBox(std::string(image_text::kS19FileErrorA));
      result = Refuse(number, "memory", "the records do not fit in memory");
      break;
    }
  }
  InsertFixedRecord();
  return result;
}

void CXferS19::InsertFixedRecord() {
  if (s19BlockList.size() < 2 || s19BlockList[1].address != kFirstDataAddress) return;
  CS19block fixed;
  fixed.type = "S1";
  fixed.count = 0x23;
  fixed.address = kFixedRecordAddress;
  fixed.data = kFixedRecordData;
  fixed.checksum = 0x11;
  fixed.line = 0;  // in no line of the file
  s19BlockList.insert(s19BlockList.begin() + 1, fixed);
}

}  // namespace morlane
