#pragma once

#include <string>
#include <vector>

namespace morlane {

// COM n is the n-th entry of this table of device paths (n from 1).
class PortTable {
 public:
  PortTable() = default;
  explicit PortTable(std::vector<std::string> paths) : paths_(std::move(paths)) {}

  // The --port paths when given, else MORLANE_PORTS (separated by PathSeparator()), else
  // the system's serial devices.
  static PortTable Discover(const std::vector<std::string>& cliPorts);
  // Linux: /dev/ttyUSB*, /dev/ttyACM*, then /dev/ttyS* with hardware behind them, each group
  // in numeric order. Windows: \\.\COM1 to \\.\COM32.
  static std::vector<std::string> SystemSerialDevices();
  // ':' on Linux, ';' on Windows.
  static char PathSeparator();
  // The path that opens a port given by name: on Windows "COM5" becomes \\.\COM5.
  static std::string DevicePath(const std::string& name);

  std::string PathOf(int comNumber) const;
  int Count() const { return static_cast<int>(paths_.size()); }
  const std::vector<std::string>& Paths() const { return paths_; }

 private:
  std::vector<std::string> paths_;
};

}  // namespace morlane
