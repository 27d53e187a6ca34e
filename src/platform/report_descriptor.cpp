// A small reader of HID report descriptors: only what gives the report lengths (the Input
// and Output main items, sized by the Report Size, Report Count and Report ID globals).
#include "platform/report_descriptor.h"

#include <algorithm>
#include <array>

namespace morlane {

namespace {

// Item prefixes: bits 0-1 data size code, bits 2-3 type, bits 4-7 tag.
constexpr int kTypeMain = 0;
constexpr int kTypeGlobal = 1;
constexpr int kTagInput = 0x8;
constexpr int kTagOutput = 0x9;
constexpr int kTagReportSize = 0x7;
constexpr int kTagReportId = 0x8;
constexpr int kTagReportCount = 0x9;
constexpr int kTagPush = 0xA;
constexpr int kTagPop = 0xB;
constexpr uint8_t kLongItemPrefix = 0xFE;

// Far beyond any real device (the system's own limit on a report is 16 KiB): a descriptor
// that declares more is garbage, and the counts below cannot overflow.
constexpr uint64_t kMaxReportBits = 16384 * 8;
constexpr size_t kMaxPushDepth = 32;

struct Globals {
  uint64_t reportSize = 0;
  uint64_t reportCount = 0;
  uint32_t reportId = 0;
};

int BytesOf(uint64_t bits) {
  return static_cast<int>((bits + 7) / 8);
}

}  // namespace

ReportDescriptorInfo ParseReportDescriptorInfo(const uint8_t* descriptor, size_t size) {
  ReportDescriptorInfo info;
  if (!descriptor && size > 0) return info;
  // Bits declared per report id (0 when the device does not number its reports), for
  // input and output reports.
  std::array<uint64_t, 256> inputBits{};
  std::array<uint64_t, 256> outputBits{};
  Globals globals;
  std::vector<Globals> stack;
  bool numbered = false;

  size_t pos = 0;
  while (pos < size) {
    uint8_t prefix = descriptor[pos];
    if (prefix == kLongItemPrefix) {
      // Long items carry nothing about lengths; only their extent matters.
      if (pos + 3 > size) return info;
      size_t length = descriptor[pos + 1];
      if (pos + 3 + length > size) return info;
      pos += 3 + length;
      continue;
    }
    static constexpr size_t kDataSizes[] = {0, 1, 2, 4};
    size_t dataSize = kDataSizes[prefix & 0x3];
    int type = (prefix >> 2) & 0x3;
    int tag = prefix >> 4;
    if (pos + 1 + dataSize > size) return info;
    uint32_t value = 0;
    for (size_t i = 0; i < dataSize; ++i) {
      value |= static_cast<uint32_t>(descriptor[pos + 1 + i]) << (8 * i);
    }
    pos += 1 + dataSize;

    if (type == kTypeGlobal) {
      switch (tag) {
        case kTagReportSize:
          globals.reportSize = value;
          break;
        case kTagReportCount:
          globals.reportCount = value;
          break;
        case kTagReportId:
          // Report id 0 is reserved for devices that do not number their reports.
          if (value == 0 || value > 255) return info;
          globals.reportId = value;
          numbered = true;
          break;
        case kTagPush:
          if (stack.size() >= kMaxPushDepth) return info;
          stack.push_back(globals);
          break;
        case kTagPop:
          if (stack.empty()) return info;
          globals = stack.back();
          stack.pop_back();
          break;
        default:
          break;
      }
    } else if (type == kTypeMain && (tag == kTagInput || tag == kTagOutput)) {
      std::array<uint64_t, 256>& bits = tag == kTagInput ? inputBits : outputBits;
      uint64_t added = globals.reportSize * globals.reportCount;  // both below 2^32
      uint64_t& total = bits[globals.reportId];
      if (added > kMaxReportBits || total + added > kMaxReportBits) return info;
      total += added;
    }
  }

  // The host's capabilities count the report id byte whether or not reports are numbered.
  auto longest = [](const std::array<uint64_t, 256>& bits) {
    uint64_t most = *std::max_element(bits.begin(), bits.end());
    return most == 0 ? 0 : 1 + BytesOf(most);
  };
  info.valid = true;
  info.numberedReports = numbered;
  info.caps.inputReportLength = longest(inputBits);
  info.caps.outputReportLength = longest(outputBits);
  return info;
}

HidCaps ParseReportDescriptor(const std::vector<uint8_t>& descriptor) {
  return ParseReportDescriptorInfo(descriptor.data(), descriptor.size()).caps;
}

}  // namespace morlane
