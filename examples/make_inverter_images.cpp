// Writes the sample inverter images master.bin and slave.bin into a directory: the 08 AA
// mark, a 20-byte header, a few sections of deterministic words that fit each CPU's
// flash (ten sectors of 0x2000 words on the master, four on the slave), and the closing
// word count of 0.
//
//   make_inverter_images DIR
#include <cstdint>
#include <cstdio>
#include <string>
#include <tuple>
#include <vector>

namespace {

struct Section {
  uint32_t address;  // target word address
  uint32_t words;
};

void Put16(std::vector<uint8_t>& out, uint32_t value) {
  out.push_back(static_cast<uint8_t>(value >> 8));
  out.push_back(static_cast<uint8_t>(value));
}

std::vector<uint8_t> MakeImage(const std::vector<Section>& sections, uint32_t seed) {
  std::vector<uint8_t> out{0x08, 0xAA};
  // The header the CPUs' boot ROM reads (entry point, register values); the tool passes
  // over it, so the samples only mark where the image came from.
  const char tag[] = "SAMPLE IMAGE V1.0  ";
  for (int i = 0; i < 20; ++i) out.push_back(static_cast<uint8_t>(tag[i % (sizeof tag - 1)]));
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

bool WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) return false;
  bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  return std::fclose(file) == 0 && written;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_inverter_images DIR\n");
    return 2;
  }
  const std::string dir = argv[1];
  // Sections of various sizes: several full blocks with a rest, exactly one full block,
  // and sectors apart from each other.
  const std::vector<Section> master = {{0x000000, 1200}, {0x004000, 500}, {0x00A000, 114}};
  const std::vector<Section> slave = {{0x000000, 700}, {0x003000, 333}, {0x006100, 60}};
  for (const auto& [name, sections, seed] :
       {std::tuple{"master.bin", master, 0x1234567u}, std::tuple{"slave.bin", slave, 0x7654321u}}) {
    std::string path = dir + "/" + name;
    std::vector<uint8_t> image = MakeImage(sections, seed);
    if (!WriteFile(path, image)) {
      std::fprintf(stderr, "make_inverter_images: cannot write %s\n", path.c_str());
      return 1;
    }
    std::printf("%s: %zu bytes, %zu sections\n", path.c_str(), image.size(), sections.size());
  }
  return 0;
}
