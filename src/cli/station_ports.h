#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/serial_port.h"
#include "station/station_port.h"

namespace morlane {

class CliSession;

// The serial ports `ports`, `doctor` and `gang` work through: with real ports, the --port
// paths, else MORLANE_PORTS, else every port the system has; with simulated units, the
// session's own ports. The window's port search of COM1 to COM32 is no list of ports: on
// Windows it would make a unit of 32 numbers, most of them not there.
class StationPorts {
 public:
  explicit StationPorts(CliSession& session);

  SerialPortFactory& Factory() { return *factory_; }
  const std::vector<StationPort>& List() const { return list_; }

 private:
  std::unique_ptr<SerialPortFactory> own_;
  SerialPortFactory* factory_ = nullptr;
  std::vector<StationPort> list_;
};

}  // namespace morlane
