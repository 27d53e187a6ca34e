#pragma once

#include <memory>
#include <string>

#include "gui/gui_options.h"
#include "platform/hid_device.h"
#include "platform/serial_port.h"

namespace morlane::sim {
class SimulatedPlatform;
}

namespace morlane::gui {

// What the window's dialog works with: the serial ports and the HID devices, real or
// those of the simulated unit running in this process.
class GuiPlatform {
 public:
  GuiPlatform();
  ~GuiPlatform();

  bool Start(const GuiOptions& options, std::string* error);
  SerialPortFactory& Ports() { return *ports_; }
  HidBackend& HidDevices() { return *hid_; }

 private:
  std::unique_ptr<sim::SimulatedPlatform> simulated_;
  std::unique_ptr<SerialPortFactory> ports_;
  std::unique_ptr<HidBackend> hid_;
};

}  // namespace morlane::gui
