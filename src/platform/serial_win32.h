#pragma once

#include <memory>
#include <string>

#include "platform/port_table.h"
#include "platform/serial_port.h"

namespace morlane {

// Opens a COM device for exclusive, overlapped use; a bare "COM12" is taken as \\.\COM12.
std::unique_ptr<SerialPort> OpenWin32Port(const std::string& path, PortOpenError* error);

// Takes over a handle already opened for overlapped use (a HANDLE) as a serial port, its
// line left as it is; nullptr for no handle. Lets the port's waits be driven by handles of
// any kind, such as a pipe nobody reads.
std::unique_ptr<SerialPort> AdoptWin32Port(void* handle);

class Win32PortFactory : public TablePortFactory {
 public:
  explicit Win32PortFactory(PortTable table) : TablePortFactory(std::move(table), OpenWin32Port) {}
};

}  // namespace morlane
