#pragma once

#include <memory>

#include "platform/hid_device.h"
#include "platform/port_table.h"
#include "platform/serial_port.h"

namespace morlane {

// The host's real serial ports, COM n being entry n of the table.
std::unique_ptr<SerialPortFactory> MakeSystemPorts(PortTable table);
// The host's real HID devices.
std::unique_ptr<HidBackend> MakeSystemHid();

}  // namespace morlane
