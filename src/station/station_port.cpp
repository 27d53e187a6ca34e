#include "station/station_port.h"

#include <set>

#include "platform/port_table.h"

namespace morlane {

namespace {

// A port is named as the system names it when the system names every port of the table:
// on Windows \\.\COM3 is "COM3" wherever it stands, so that `ports`, the gang's lines, its
// records and --unit-id say the name the Device Manager and the adapter's label say.
// Otherwise (Linux ports have no such names, a simulated unit has none) COM n is entry n,
// as for every other command; so too when two entries would share a name (the same port
// given twice).
void NamePorts(std::vector<StationPort>& ports) {
  std::set<std::string> names;
  for (StationPort& port : ports) {
    port.name = PortTable::SystemName(port.path);
    if (port.name.empty() || !names.insert(port.name).second) {
      for (StationPort& numbered : ports) numbered.name = "COM" + std::to_string(numbered.entry);
      return;
    }
  }
}

}  // namespace

int StationPort::ShownNumber() const {
  if (shownAs > 0) return shownAs;
  if (name.size() > 3 && name.compare(0, 3, "COM") == 0 &&
      name.find_first_not_of("0123456789", 3) == std::string::npos && name.size() <= 7) {
    return std::stoi(name.substr(3));
  }
  return entry;
}

std::vector<StationPort> NamedPorts(const SerialPortFactory& ports) {
  std::vector<StationPort> list;
  for (int entry = 1;; ++entry) {
    std::string path = ports.PathOf(entry);
    if (path.empty()) break;
    list.push_back(StationPort{entry, {}, std::move(path)});
  }
  NamePorts(list);
  return list;
}

}  // namespace morlane
