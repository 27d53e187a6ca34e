// Writes sample S-record files of the unit's USB firmware into a directory (default:
// the current one): make_s19 [DIR]. The data bytes are a fixed pattern of the address,
// so every run writes the same files.
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {

struct Record {
  char type;
  uint16_t address;
  std::vector<uint8_t> data;
};

std::string Line(const Record& record, bool lowerCase) {
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

std::vector<uint8_t> Pattern(uint16_t address, int n) {
  std::vector<uint8_t> bytes;
  for (int i = 0; i < n; ++i) bytes.push_back(static_cast<uint8_t>((address + i) * 7 + 3));
  return bytes;
}

Record Header() {
  std::string name = "morlane usb";
  return Record{'0', 0, std::vector<uint8_t>(name.begin(), name.end())};
}

bool Write(const std::string& path, const std::vector<Record>& records, bool lowerCase = false,
           const char* ending = "\r\n") {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) return false;
  for (const Record& record : records) {
    std::fprintf(file, "%s%s", Line(record, lowerCase).c_str(), ending);
  }
  return std::fclose(file) == 0;
}

// A stretch of 16-byte records from first up to (not including) end.
void Stretch(std::vector<Record>& records, uint32_t first, uint32_t end) {
  for (uint32_t a = first; a < end; a += 16) {
    records.push_back(Record{'1', static_cast<uint16_t>(a), Pattern(static_cast<uint16_t>(a), 16)});
  }
}

}  // namespace

int main(int argc, char** argv) {
  std::string dir = argc > 1 ? argv[1] : ".";
  const Record end{'9', 0, {}};

  // An image linked at 0xE600: the reader adds the record at 0xDC80.
  std::vector<Record> small{Header()};
  Stretch(small, 0xE600, 0xE700);
  small.push_back(end);

  // A whole 64 KiB address space.
  std::vector<Record> full{Header()};
  Stretch(full, 0x0000, 0x10000);
  full.push_back(end);

  // Gaps inside rows and a short record closing a stretch.
  std::vector<Record> gaps{Header()};
  Stretch(gaps, 0xE600, 0xE620);
  Stretch(gaps, 0xE630, 0xE650);
  Stretch(gaps, 0xF000, 0xF040);
  gaps.push_back(Record{'1', 0xF040, Pattern(0xF040, 8)});
  gaps.push_back(end);

  bool ok = Write(dir + "/usb_e600.S19", small) && Write(dir + "/usb_full.S19", full) &&
            Write(dir + "/usb_gaps.S19", gaps) &&
            Write(dir + "/usb_e600_lower_lf.S19", small, true, "\n");
  if (!ok) {
    std::fprintf(stderr, "make_s19: cannot write into %s\n", dir.c_str());
    return 1;
  }
  std::printf("wrote usb_e600.S19, usb_full.S19, usb_gaps.S19, usb_e600_lower_lf.S19 in %s\n",
              dir.c_str());
  return 0;
}
