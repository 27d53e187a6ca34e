// Writes sample S-record files of the unit's USB firmware into a directory (default:
// the current one): make_s19 [DIR]. The data bytes are a fixed pattern of the address,
// so every run writes the same files.
#include <cstdio>
#include <string>
#include <vector>

#include "s19_lines.h"

using namespace morlane::samples;

namespace {

bool Write(const std::string& path, const std::vector<Record>& records, bool lowerCase = false,
           const char* ending = "\r\n") {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) return false;
  const std::string text = Text(records, lowerCase, ending);
  bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
  return std::fclose(file) == 0 && written;
}

}  // namespace

int main(int argc, char** argv) {
  std::string dir = argc > 1 ? argv[1] : ".";
  const Record& end = kEnd;

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
