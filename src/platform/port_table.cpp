// Placeholder until the port table lands.
#include "platform/port_table.h"

namespace morlane {

PortTable PortTable::Discover(const std::vector<std::string>& cliPorts) { return PortTable(cliPorts); }

std::vector<std::string> PortTable::SystemSerialDevices() { return {}; }

std::string PortTable::PathOf(int comNumber) const {
  if (comNumber < 1 || comNumber > Count()) return {};
  return paths_[static_cast<size_t>(comNumber - 1)];
}

}  // namespace morlane
