#pragma once

#include <string>
#include <vector>

#include "platform/serial_port.h"

namespace morlane {

// One serial port of a station's table.
struct StationPort {
  int entry = 0;     // its COM number in the table's factory, through which it is opened
  std::string name;  // what the technician calls it: "COM3", or a profile's slot "A"
  std::string path;
  // The COM number the unit's dialog knows the port by ("Com3 is opened"); 0 takes it
  // from a name "COMn".
  int shownAs = 0;
  // The port's stable identity for the records (see StablePortId); "" where none is known.
  std::string stableId{};

  int ShownNumber() const;
};

// The entries of a table, from COM1 to the last, each with its name: the system's own name
// for the port where it has one for every port (Windows: \\.\COM3 is "COM3"), else
// "COM" and its entry.
std::vector<StationPort> NamedPorts(const SerialPortFactory& ports);

}  // namespace morlane
