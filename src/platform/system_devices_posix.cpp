#include "platform/hidapi_backend.h"
#include "platform/system_devices.h"
#include "platform/termios_port.h"

namespace morlane {

std::unique_ptr<SerialPortFactory> MakeSystemPorts(PortTable table) {
  return std::make_unique<TermiosPortFactory>(std::move(table));
}

std::unique_ptr<HidBackend> MakeSystemHid() {
  return std::make_unique<HidapiBackend>();
}

}  // namespace morlane
