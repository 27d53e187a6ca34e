#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/hid_device.h"
#include "platform/serial_port.h"

namespace morlane::test {

// A port that opens and carries nothing.
class NoLine : public SerialPort {
 public:
  bool SetLine(int) override { return true; }
  int QueuedBytes() override { return 0; }
  int Read(uint8_t*, int) override { return 0; }
  int Write(const uint8_t*, int n, int) override { return n; }
  bool WaitReadable(int) override { return false; }
};

// The port table with the answer each path gives when opened.
class ScratchPorts : public SerialPortFactory {
 public:
  std::vector<std::pair<std::string, PortOpenError>> entries;
  std::unique_ptr<SerialPort> Open(int n, PortOpenError* error) override {
    *error = n >= 1 && n <= static_cast<int>(entries.size()) ? entries[n - 1].second
                                                             : PortOpenError::NotFound;
    return *error == PortOpenError::None ? std::make_unique<NoLine>() : nullptr;
  }
  std::string PathOf(int n) const override {
    return n >= 1 && n <= static_cast<int>(entries.size()) ? entries[n - 1].first : "";
  }
};

class ScratchHid : public HidBackend {
 public:
  std::vector<HidDeviceInfo> devices;
  std::vector<HidDeviceInfo> Enumerate() override { return devices; }
  std::unique_ptr<HidDevice> Open(const std::string&) override { return nullptr; }
};

}  // namespace morlane::test
