// A full 64 KiB image (4096 records of 16 bytes) from .S19 to tmp.txt and tmp.bin, as a
// USB build does it. Target: under 50 ms. Prints the best and the median of the runs.
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "app/headless_window.h"
#include "image/xfer_s19.h"

namespace {

std::string Line(char type, unsigned address, const std::vector<unsigned>& data) {
  unsigned count = static_cast<unsigned>(data.size()) + 3;
  unsigned sum = count + (address >> 8) + (address & 0xFF);
  char field[16];
  std::snprintf(field, sizeof field, "S%c%02X%04X", type, count, address);
  std::string line = field;
  for (unsigned byte : data) {
    std::snprintf(field, sizeof field, "%02X", byte);
    line += field;
    sum += byte;
  }
  std::snprintf(field, sizeof field, "%02X\r\n", ~sum & 0xFF);
  return line + field;
}

}  // namespace

int main() {
  std::string pattern = (std::filesystem::temp_directory_path() / "s19_bench.XXXXXX").string();
  const char* dir = ::mkdtemp(pattern.data());
  if (!dir) return 1;
  std::filesystem::path previous = std::filesystem::current_path();
  std::filesystem::current_path(dir);

  std::string text = Line('0', 0, {'b', 'e', 'n', 'c', 'h'});
  for (unsigned a = 0; a < 0x10000; a += 16) {
    std::vector<unsigned> data;
    for (unsigned i = 0; i < 16; ++i) data.push_back((a + i) * 7 & 0xFF);
    text += Line('1', a, data);
  }
  text += "S9030000FC\r\n";
  std::FILE* file = std::fopen("image.S19", "wb");
  if (!file) return 1;
  std::fwrite(text.data(), 1, text.size(), file);
  std::fclose(file);

  morlane::HeadlessWindow window;
  std::vector<double> runs;
  int failures = 0;
  for (int run = 0; run < 20; ++run) {
    auto start = std::chrono::steady_clock::now();
    morlane::CXferS19 image(window);
    image.rowSize = 32;
    image.skipFirst = true;
    int ok = image.BuildS19BlockList("image.S19") && image.BuildRawBlockList() &&
             image.WriteTxtFile("tmp.txt") && image.WriteBinFile("tmp.bin");
    auto end = std::chrono::steady_clock::now();
    if (!ok) ++failures;
    runs.push_back(std::chrono::duration<double, std::milli>(end - start).count());
  }
  std::uintmax_t binBytes = std::filesystem::file_size("tmp.bin");
  std::sort(runs.begin(), runs.end());
  std::printf("s19_bench: 4096 records, %zu bytes of S19 -> tmp.bin %ju bytes\n", text.size(),
              binBytes);
  std::printf("s19_bench: best %.2f ms, median %.2f ms (target < 50 ms)%s\n", runs.front(),
              runs[runs.size() / 2], failures ? ", FAILED RUNS" : "");

  std::filesystem::current_path(previous);
  std::filesystem::remove_all(dir);
  return failures ? 1 : 0;
}
