// morlane-sample-images DIR: writes sample firmware into DIR (made when missing), so that
// the tool can be tried on its simulated unit at once:
//   master.bin, slave.bin   inverter images, one for each CPU: the 08 AA mark, a 20-byte
//                           header, a few sections of deterministic words that fit the
//                           CPU's flash (ten sectors of 0x2000 words on the master, four
//                           on the slave), and the closing word count of 0;
//   usb_firmware.S19        the unit's USB firmware as S-records, for "prepare".
// Every byte is made here; the same files on every run.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include "platform/console_io.h"
#include "platform/file_io.h"
#include "platform/utf8_path.h"
#include "s19_lines.h"

namespace {

struct Section {
  uint32_t address;  // target word address
  uint32_t words;
};

void Put16(std::string& out, uint32_t value) {
  out.push_back(static_cast<char>(value >> 8));
  out.push_back(static_cast<char>(value));
}

std::string MakeImage(const std::vector<Section>& sections, uint32_t seed) {
  std::string out{'\x08', '\xAA'};
  // The header the CPUs' boot ROM reads (entry point, register values); the tool passes
  // over it, so the samples only mark where the image came from.
  const char tag[] = "SAMPLE IMAGE V1.0  ";
  for (int i = 0; i < 20; ++i) out.push_back(tag[i % (sizeof tag - 1)]);
  uint32_t state = seed;
  for (const Section& section : sections) {
    Put16(out, section.words);
    Put16(out, section.address >> 16);
    Put16(out, section.address & 0xFFFF);
    for (uint32_t i = 0; i < section.words; ++i) {
      // xorshift32: the same words on every run, no word left at the erased 0xFFFF.
      state ^= state << 13;
      state ^= state >> 17;
      state ^= state << 5;
      uint32_t word = state & 0xFFFF;
      Put16(out, word == 0xFFFF ? 0x7FFF : word);
    }
  }
  Put16(out, 0);  // no further section
  return out;
}

// The USB firmware linked at 0xE600: the reader adds the record at 0xDC80.
std::string MakeUsbFirmware() {
  using namespace morlane::samples;
  std::vector<Record> records{Header()};
  Stretch(records, 0xE600, 0xE700);
  records.push_back(kEnd);
  return Text(records);
}

constexpr const char* kUsage = "usage: morlane-sample-images DIR\n";

}  // namespace

int main(int argc, char** argv) {
  using namespace morlane;
  UseBinaryStdio();
  const std::vector<std::string> arguments = Utf8Arguments(argc, argv);
  if (arguments.size() == 2 && (arguments[1] == "--help" || arguments[1] == "-h")) {
    std::printf("%s", kUsage);
    return 0;
  }
  if (arguments.size() != 2 || arguments[1].empty() || arguments[1][0] == '-') {
    std::fprintf(stderr, "%s", kUsage);
    return 2;
  }
  const std::string dir = arguments[1];
  std::error_code failure;
  std::filesystem::create_directories(PathFromUtf8(dir), failure);
  if (failure) {
    std::fprintf(stderr, "morlane-sample-images: cannot make %s: %s\n", dir.c_str(),
                 failure.message().c_str());
    return 1;
  }
  // Sections of various sizes: several full blocks with a rest, exactly one full block,
  // and sectors apart from each other.
  const std::vector<Section> master = {{0x000000, 1200}, {0x004000, 500}, {0x00A000, 114}};
  const std::vector<Section> slave = {{0x000000, 700}, {0x003000, 333}, {0x006100, 60}};
  const std::vector<std::tuple<const char*, std::string, const char*>> files = {
      {"master.bin", MakeImage(master, 0x1234567u), "master CPU image"},
      {"slave.bin", MakeImage(slave, 0x7654321u), "slave CPU image"},
      {"usb_firmware.S19", MakeUsbFirmware(), "USB firmware, S-records"},
  };
  for (const auto& [name, bytes, what] : files) {
    const std::string path = PathToUtf8(PathFromUtf8(dir) / name);
    std::string error;
    if (!WriteFileDurably(path, bytes, &error)) {
      std::fprintf(stderr, "morlane-sample-images: %s\n", error.c_str());
      return 1;
    }
    std::printf("%s: %zu bytes, %s\n", path.c_str(), bytes.size(), what);
  }
  return 0;
}
