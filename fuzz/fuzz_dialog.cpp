#include "fuzz_dialog.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <system_error>

#include <sys/resource.h>

// A dialog raises its process's priority as it starts. Over hours of fuzzing, with a
// dialog per input, that would starve everything else on the machine: the fuzz runs keep
// the priority they were started with.
extern "C" int setpriority(int, id_t, int) noexcept {
  return 0;
}

namespace morlane::fuzz {

namespace {

std::string scratch;

void RemoveScratchFolder() {
  std::error_code ignored;
  std::filesystem::current_path(std::filesystem::temp_directory_path(), ignored);
  std::filesystem::remove_all(scratch, ignored);
}

}  // namespace

std::string EnterScratchFolder() {
  std::string pattern = (std::filesystem::temp_directory_path() / "morlane-fuzz-XXXXXX").string();
  if (!mkdtemp(pattern.data())) {
    std::perror("fuzz: scratch folder");
    std::abort();
  }
  std::filesystem::current_path(pattern);
  scratch = pattern;
  std::atexit(RemoveScratchFolder);
  return pattern;
}

void WriteFile(const std::string& path, const uint8_t* data, size_t size) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  if (!file) {
    std::perror("fuzz: writing a sample file");
    std::abort();
  }
}

}  // namespace morlane::fuzz
