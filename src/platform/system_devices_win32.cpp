#include "platform/hid_win32.h"
#include "platform/serial_win32.h"
#include "platform/system_devices.h"

namespace morlane {

std::unique_ptr<SerialPortFactory> MakeSystemPorts(PortTable table) {
  return std::make_unique<Win32PortFactory>(std::move(table));
}

std::unique_ptr<HidBackend> MakeSystemHid() {
  return std::make_unique<Win32HidBackend>();
}

}  // namespace morlane
