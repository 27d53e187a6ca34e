#pragma once

#include <cstddef>
#include <cstdlib>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

#include <unistd.h>

namespace morlane::fuzz {

inline std::string InputPath() {
  return (std::filesystem::temp_directory_path() / ("morlane-fuzz-" + std::to_string(getpid())))
      .string();
}

// The readers under test take a path: the input goes into a file of this process's own.
inline const std::string& InputFile(const uint8_t* data, size_t size) {
  static const std::string path = [] {
    std::atexit([] {
      std::error_code ignored;
      std::filesystem::remove(InputPath(), ignored);
    });
    return InputPath();
  }();
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  return path;
}

}  // namespace morlane::fuzz
