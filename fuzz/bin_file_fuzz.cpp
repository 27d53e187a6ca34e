// The inverter image check and its section table, on any file.
#include <cstddef>
#include <cstdint>

#include "flash/bin_file.h"
#include "fuzz_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string& path = morlane::fuzz::InputFile(data, size);
  (void)morlane::CheckBinFile(path);
  morlane::SectionTable table;
  int count = morlane::ReadSections(path, table);
  if (count < 0 || count > morlane::kMaxSections) __builtin_trap();
  (void)morlane::SurveyImage(path);
  return 0;
}
