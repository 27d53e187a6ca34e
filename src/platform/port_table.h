#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/serial_port.h"

namespace morlane {

// COM n is the n-th entry of this table of device paths (n from 1).
//
// Two tables come from the system. The window's port search (and the command-line runs
// that press its buttons) tries COM1 to COM32 and takes the first that opens: on Windows
// COM n is \\.\COMn itself, so that the window names a port as Windows does. The station
// commands (`ports`, `doctor`, `gang`) work through every port the system has instead, any
// number of them, and make a unit of each: a port that is not there has no place there.
class PortTable {
 public:
  PortTable() = default;
  explicit PortTable(std::vector<std::string> paths) : paths_(std::move(paths)) {}

  // The --port paths when given, else MORLANE_PORTS (separated by PathSeparator()), else
  // the system's serial devices.
  static PortTable Discover(const std::vector<std::string>& cliPorts);
  // As Discover, with the ports the system has (PresentSerialDevices) as the system's part;
  // none of the three is cut to 32 entries.
  static PortTable DiscoverPresent(const std::vector<std::string>& cliPorts);
  // What the port search tries. Linux: /dev/ttyUSB*, /dev/ttyACM*, then /dev/ttyS* with
  // hardware behind them, each group in numeric order. Windows: \\.\COM1 to \\.\COM32.
  static std::vector<std::string> SystemSerialDevices();
  // The serial ports the system has. Linux: SystemSerialDevices(). Windows: the COM ports
  // of the system's serial device map, in COM number order.
  static std::vector<std::string> PresentSerialDevices();
  // ':' on Linux, ';' on Windows.
  static char PathSeparator();
  // The path that opens a port given by name: on Windows "COM5" becomes \\.\COM5.
  static std::string DevicePath(const std::string& name);
  // The name the system itself gives the port behind a path: "COM45" for \\.\COM45 (or
  // COM45) on Windows; empty for any other path, and on Linux, whose ports have no such
  // names.
  static std::string SystemName(const std::string& path);
  // The number in that name (45 for COM45); 0 where the system names no port.
  static int SystemNumber(const std::string& path);

  std::string PathOf(int comNumber) const;
  int Count() const { return static_cast<int>(paths_.size()); }
  const std::vector<std::string>& Paths() const { return paths_; }

 private:
  std::vector<std::string> paths_;
};

// COM n is entry n of the table, opened by the system's serial layer.
class TablePortFactory : public SerialPortFactory {
 public:
  using Opener = std::unique_ptr<SerialPort> (*)(const std::string& path, PortOpenError* error);

  TablePortFactory(PortTable table, Opener open) : table_(std::move(table)), open_(open) {}
  std::unique_ptr<SerialPort> Open(int comNumber, PortOpenError* error) override;
  std::string PathOf(int comNumber) const override { return table_.PathOf(comNumber); }
  const PortTable& Table() const { return table_; }

 private:
  PortTable table_;
  Opener open_;
};

// A table as the dialog's port search sees it when the system names every one of its
// ports: COM n is the port the system calls "COMn", so that on Windows --port COM40 is
// COM40 in the log, the combo box and the records, the number the technician knows it by
// (the search then tries the ports in the order of their numbers, as it tries COM1 to
// COM32). Otherwise (Linux ports have no such names, a path that is no COM name, the same
// port twice) COM n stays entry n.
class SystemNumberedPorts : public SerialPortFactory {
 public:
  explicit SystemNumberedPorts(std::unique_ptr<SerialPortFactory> table);
  std::unique_ptr<SerialPort> Open(int comNumber, PortOpenError* error) override;
  std::string PathOf(int comNumber) const override;
  int NumberBeyondSearch() const override;

 private:
  // The table's entry behind COM n; 0 for none.
  int EntryOf(int comNumber) const;

  std::unique_ptr<SerialPortFactory> table_;
  std::map<int, int> entries_;  // COM number -> entry, when the system names every port
};

}  // namespace morlane
