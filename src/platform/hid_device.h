#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace morlane {

struct HidDeviceInfo {
  std::string path;
  uint16_t vendorId = 0;
  uint16_t productId = 0;
};

// Report lengths as the unit's HID description gives them, each counting the report id
// byte in front (so a device with 64-byte reports and no report ids has 65).
struct HidCaps {
  int inputReportLength = 0;
  int outputReportLength = 0;
};

// One opened HID interface. Reports always start with the report id byte.
class HidDevice {
 public:
  virtual ~HidDevice() = default;
  virtual HidCaps Caps() const = 0;
  // Writes one report; returns the count written, 0 when it did not complete within
  // timeoutMs, -1 on failure. Every wait is bounded: a negative time-out waits not at all.
  virtual int Write(const uint8_t* report, int length, int timeoutMs) = 0;
  // Reads one input report of at most length bytes into report; returns its length,
  // 0 on time-out, -1 on failure.
  virtual int Read(uint8_t* report, int length, int timeoutMs) = 0;
};

class HidBackend {
 public:
  virtual ~HidBackend() = default;
  virtual std::vector<HidDeviceInfo> Enumerate() = 0;
  virtual std::unique_ptr<HidDevice> Open(const std::string& path) = 0;
};

}  // namespace morlane
