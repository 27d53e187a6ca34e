#pragma once

#include <memory>
#include <string>

#include "platform/port_table.h"
#include "platform/serial_port.h"

namespace morlane {

// Opens a COM device for exclusive, overlapped use; a bare "COM12" is taken as \\.\COM12.
std::unique_ptr<SerialPort> OpenWin32Port(const std::string& path, PortOpenError* error);

class Win32PortFactory : public SerialPortFactory {
 public:
  explicit Win32PortFactory(PortTable table) : table_(std::move(table)) {}
  std::unique_ptr<SerialPort> Open(int comNumber, PortOpenError* error) override;
  std::string PathOf(int comNumber) const override { return table_.PathOf(comNumber); }
  const PortTable& Table() const { return table_; }

 private:
  PortTable table_;
};

}  // namespace morlane
