#pragma once

#include <memory>
#include <string>

#include "platform/port_table.h"
#include "platform/serial_port.h"

namespace morlane {

// Opens a device path with TIOCEXCL and a non-blocking flock, so that a port held by
// another program counts as busy even for root.
std::unique_ptr<SerialPort> OpenTermiosPort(const std::string& path, PortOpenError* error);

class TermiosPortFactory : public SerialPortFactory {
 public:
  explicit TermiosPortFactory(PortTable table) : table_(std::move(table)) {}
  std::unique_ptr<SerialPort> Open(int comNumber, PortOpenError* error) override;
  std::string PathOf(int comNumber) const override { return table_.PathOf(comNumber); }
  const PortTable& Table() const { return table_; }

 private:
  PortTable table_;
};

}  // namespace morlane
