#include <filesystem>

#include "support/open_files.h"

namespace morlane::test {

bool FileOpenHere(const std::string& path) {
  std::error_code error;
  std::string wanted = std::filesystem::weakly_canonical(path, error).string();
  for (const auto& fd : std::filesystem::directory_iterator("/proc/self/fd", error)) {
    std::error_code linkError;
    if (std::filesystem::read_symlink(fd.path(), linkError).string() == wanted) return true;
  }
  return false;
}

}  // namespace morlane::test
