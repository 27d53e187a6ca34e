#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/serial_port.h"

namespace morlane {

// A serial port the window lists after its first two entries ("COMn" and "USB"): its name
// as the combo box shows it and the COM number the dialog opens it by.
struct ListedPort {
  std::string name;  // "COM40" on Windows; elsewhere the device path
  std::string path;
  int number = 0;
};

// The front end's ports with every serial port the system has added to them, so that the
// window can open any of them by a COM number as it opens the port it found itself.
//
// A system port the front end's ports already hold keeps the number it has there (on
// Windows COM5 is COM 5 of the port search). Any other takes its own COM number when that
// is free (COM40, beyond the search's COM1 to COM32), else the first free number above
// the search's; a port whose COM number the front end gives to another device (with
// --simulate, COM1 is the simulated unit) is left out rather than listed twice by one name.
class ListedPortFactory : public SerialPortFactory {
 public:
  // system opens the system's ports: entry n is systemPaths[n - 1].
  ListedPortFactory(SerialPortFactory& ports, std::vector<std::string> systemPaths,
                    std::unique_ptr<SerialPortFactory> system);

  std::unique_ptr<SerialPort> Open(int comNumber, PortOpenError* error) override;
  std::string PathOf(int comNumber) const override;
  int NumberBeyondSearch() const override { return ports_.NumberBeyondSearch(); }

  // The system's ports, in the system's order.
  const std::vector<ListedPort>& Listed() const { return listed_; }

  // The highest COM number looked at for the front end's own ports.
  static constexpr int kHighestNumber = 4096;

 private:
  SerialPortFactory& ports_;
  std::unique_ptr<SerialPortFactory> system_;
  std::map<int, int> systemEntry_;  // COM number -> entry of system_
  std::vector<ListedPort> listed_;
};

// The front end's ports with the ports the system has now (PortTable::PresentSerialDevices).
std::unique_ptr<ListedPortFactory> WithSystemPorts(SerialPortFactory& ports);

}  // namespace morlane
