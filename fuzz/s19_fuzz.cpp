// The S-record reader, the cutting into rows and both writers (into memory), on any text.
// The first byte picks the row size and whether the first record is skipped, as the two
// MCUs' settings do.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "app/headless_window.h"
#include "image/xfer_s19.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  static const int kRowSizes[] = {16, 32, 128, 8};
  morlane::HeadlessWindow window;
  morlane::CXferS19 xfer(window);
  xfer.rowSize = kRowSizes[data[0] & 3];
  xfer.skipFirst = (data[0] & 4) != 0;
  std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
  if (!xfer.ParseS19Text(text)) return 0;
  if (!xfer.BuildRawBlockList()) return 0;
  (void)xfer.TxtFileBytes();
  (void)xfer.BinFileBytes();
  return 0;
}
