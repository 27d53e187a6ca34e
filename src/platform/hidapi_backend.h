#pragma once

#include "platform/hid_device.h"

namespace morlane {

// Real HID devices through hidapi (hidraw on Linux). Report lengths come from the
// device's report descriptor, parsed by ParseReportDescriptor.
class HidapiBackend : public HidBackend {
 public:
  HidapiBackend();
  ~HidapiBackend() override;
  std::vector<HidDeviceInfo> Enumerate() override;
  std::unique_ptr<HidDevice> Open(const std::string& path) override;
};

}  // namespace morlane
