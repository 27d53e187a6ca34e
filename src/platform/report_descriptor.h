#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/hid_device.h"

namespace morlane {

// Lengths of the longest input and output report a HID report descriptor declares, each
// with the report id byte in front counted (1 + the report's data bytes, whether or not
// the device numbers its reports). Lengths are 0 where the descriptor declares none;
// a malformed descriptor yields {0, 0}.
HidCaps ParseReportDescriptor(const std::vector<uint8_t>& descriptor);

// The same, with what the HID backend needs besides: whether the descriptor could be
// read at all, and whether the device numbers its reports (then every report travels
// with its id byte; otherwise the system leaves the id byte out).
struct ReportDescriptorInfo {
  bool valid = false;
  bool numberedReports = false;
  HidCaps caps;
};
ReportDescriptorInfo ParseReportDescriptorInfo(const uint8_t* descriptor, size_t size);

}  // namespace morlane
