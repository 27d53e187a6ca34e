#pragma once

#include <memory>
#include <string>

#include "platform/port_table.h"
#include "platform/serial_port.h"

namespace morlane {

// Opens a device path with TIOCEXCL and a non-blocking flock, so that a port held by
// another program counts as busy even for root.
std::unique_ptr<SerialPort> OpenTermiosPort(const std::string& path, PortOpenError* error);

class TermiosPortFactory : public TablePortFactory {
 public:
  explicit TermiosPortFactory(PortTable table)
      : TablePortFactory(std::move(table), OpenTermiosPort) {}
};

}  // namespace morlane
