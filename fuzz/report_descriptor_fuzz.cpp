// The HID report-descriptor parser, on any descriptor a device may present.
#include <cstddef>
#include <cstdint>

#include "platform/report_descriptor.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  morlane::ReportDescriptorInfo info = morlane::ParseReportDescriptorInfo(data, size);
  if (info.caps.inputReportLength < 0 || info.caps.outputReportLength < 0) __builtin_trap();
  return 0;
}
