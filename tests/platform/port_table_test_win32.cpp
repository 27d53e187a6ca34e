// COM names on Windows: the device namespace, lists separated as PATH is, the window's
// search of COM1 to COM32 and the ports the system has.
#include <gtest/gtest.h>

#include <memory>

#include "platform/port_table.h"
#include "platform/serial_win32.h"
#include "support/environment.h"

namespace morlane {
namespace {

using test::ScopedEnvironment;

TEST(PortTableWindows, ComNamesOpenThroughTheDeviceNamespace) {
  PortTable given =
      PortTable::Discover({"COM12", "com3", "\\\\.\\COM4", "COMX", "COM256", "COM4096", "COM4097"});
  EXPECT_EQ(given.Paths(),
            (std::vector<std::string>{"\\\\.\\COM12", "\\\\.\\com3", "\\\\.\\COM4", "COMX",
                                      "\\\\.\\COM256", "\\\\.\\COM4096", "COM4097"}));
  EXPECT_EQ(PortTable::SystemName("\\\\.\\com256"), "COM256");
  EXPECT_EQ(PortTable::SystemName("COM45"), "COM45");
  EXPECT_EQ(PortTable::SystemName("C:\\ports\\unit"), "");
  ScopedEnvironment environment("MORLANE_PORTS", "COM7;C:\\ports\\unit");
  EXPECT_EQ(PortTable::Discover({}).Paths(),
            (std::vector<std::string>{"\\\\.\\COM7", "C:\\ports\\unit"}));
  ScopedEnvironment none("MORLANE_PORTS", std::nullopt);
  std::vector<std::string> system = PortTable::Discover({}).Paths();
  ASSERT_EQ(system.size(), 32u);
  EXPECT_EQ(system.front(), "\\\\.\\COM1");
  EXPECT_EQ(system.back(), "\\\\.\\COM32");
}

// What the system's serial device map holds depends on the machine: each entry is a COM
// port, in number order, none twice.
TEST(PortTableWindows, PortsTheSystemHasAreComPortsInNumberOrder) {
  int last = 0;
  for (const std::string& path : PortTable::PresentSerialDevices()) {
    std::string name = PortTable::SystemName(path);
    ASSERT_FALSE(name.empty()) << path;
    EXPECT_EQ(path, "\\\\.\\" + name);
    int number = std::stoi(name.substr(3));
    EXPECT_GT(number, last) << path;
    last = number;
  }
}

// The dialog's search knows a port given as COMn by that number ("Com40 is opened"), and a
// table with a path that is no COM name by its entries.
TEST(PortTableWindows, PortsGivenByComNameKeepTheirNumbers) {
  SystemNumberedPorts named(
      std::make_unique<Win32PortFactory>(PortTable::Discover({"COM40", "com5"})));
  EXPECT_EQ(named.PathOf(40), "\\\\.\\COM40");
  EXPECT_EQ(named.PathOf(5), "\\\\.\\com5");
  EXPECT_EQ(named.PathOf(1), "");
  EXPECT_EQ(named.NumberBeyondSearch(), 40);
  PortOpenError error = PortOpenError::None;
  EXPECT_FALSE(named.Open(1, &error));
  EXPECT_EQ(error, PortOpenError::NotFound);

  SystemNumberedPorts mixed(
      std::make_unique<Win32PortFactory>(PortTable::Discover({"COM40", "C:\\ports\\unit"})));
  EXPECT_EQ(mixed.PathOf(1), "\\\\.\\COM40");
  EXPECT_EQ(mixed.PathOf(2), "C:\\ports\\unit");
  EXPECT_EQ(mixed.PathOf(40), "");
}

TEST(PortTableWindows, MissingPortIsNotFound) {
  Win32PortFactory factory(PortTable({"\\\\.\\COM250"}));
  PortOpenError error = PortOpenError::None;
  EXPECT_FALSE(factory.Open(1, &error));
  EXPECT_EQ(error, PortOpenError::NotFound);
}

}  // namespace
}  // namespace morlane
