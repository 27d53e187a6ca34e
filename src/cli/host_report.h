#pragma once

#include <string>

#include "platform/hid_device.h"
#include "platform/host_inspection.h"
#include "platform/serial_port.h"

namespace morlane {

// What the system is asked for `ports` and `doctor`: the port table and the HID devices
// the dialog uses, and the inspection of the system's trees. With the simulated unit its
// USB side is not a system device, so the hidraw nodes are not looked for.
struct HostView {
  SerialPortFactory& ports;
  HidBackend& hid;
  const HostInspection& inspection;
  bool lookForHidNodes = true;
  // Whether the ports came from --port or MORLANE_PORTS: only then is the user told to
  // correct a path, which otherwise the system listed.
  bool portsGiven = false;
};

// The lines of `ports`; always exit status 0.
std::string PortsReport(const HostView& host);

// The lines of `doctor`; *status becomes 0 when nothing blocks use, 1 otherwise.
std::string DoctorReport(const HostView& host, int* status);

}  // namespace morlane
