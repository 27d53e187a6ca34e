#include "platform/file_io.h"

namespace morlane {

WholeFile ReadWholeFile(const std::string& path, std::string* contents, uint64_t limit) {
  InputFile file;
  if (!file.Open(path)) return WholeFile::NotOpened;
  uint64_t size = file.Size();
  if (size > limit || size > contents->max_size()) return WholeFile::TooLarge;
  contents->resize(static_cast<size_t>(size));
  int64_t got = file.ReadSomeAt(0, contents->data(), contents->size());
  if (got < 0) return WholeFile::Failed;
  contents->resize(static_cast<size_t>(got));
  return WholeFile::Read;
}

}  // namespace morlane
