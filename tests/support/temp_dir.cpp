#include <atomic>
#include <filesystem>
#include <fstream>
#include <random>

#include "platform/utf8_path.h"
#include "support/process.h"

namespace morlane::test {

TempDir::TempDir() {
  // A name no other test process picks: random, and created only when it is new.
  static std::atomic<unsigned> serial{0};
  std::random_device entropy;
  std::error_code error;
  std::filesystem::path base = std::filesystem::temp_directory_path(error);
  for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
    std::filesystem::path candidate =
        base / ("morlane-test-" + std::to_string(entropy()) + "-" + std::to_string(serial++));
    if (std::filesystem::create_directory(candidate, error)) {
      path_ = PathToUtf8(candidate.generic_u8string());
    }
  }
}

TempDir::~TempDir() {
  std::error_code error;
  if (!path_.empty()) std::filesystem::remove_all(PathFromUtf8(path_), error);
}

// Names are UTF-8, as the program's paths are, on both systems.
void TempDir::Write(const std::string& name, const std::vector<uint8_t>& bytes) const {
  std::ofstream file(PathFromUtf8(File(name)), std::ios::binary | std::ios::trunc);
  file.write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}

void TempDir::Write(const std::string& name, const std::string& text) const {
  std::ofstream file(PathFromUtf8(File(name)), std::ios::binary | std::ios::trunc);
  file << text;
}

std::vector<uint8_t> TempDir::Read(const std::string& name) const {
  std::ifstream file(PathFromUtf8(File(name)), std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(file), {});
}

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) {
      lines.push_back(text.substr(start));
      break;
    }
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

}  // namespace morlane::test
