// COM names on Windows: the device namespace, and lists separated as PATH is.
#include <gtest/gtest.h>

#include "platform/port_table.h"
#include "platform/serial_win32.h"
#include "support/environment.h"

namespace morlane {
namespace {

using test::ScopedEnvironment;

TEST(PortTableWindows, ComNamesOpenThroughTheDeviceNamespace) {
  PortTable given = PortTable::Discover({"COM12", "com3", "\\\\.\\COM4", "COMX"});
  EXPECT_EQ(given.Paths(),
            (std::vector<std::string>{"\\\\.\\COM12", "\\\\.\\com3", "\\\\.\\COM4", "COMX"}));
  ScopedEnvironment environment("MORLANE_PORTS", "COM7;C:\\ports\\unit");
  EXPECT_EQ(PortTable::Discover({}).Paths(),
            (std::vector<std::string>{"\\\\.\\COM7", "C:\\ports\\unit"}));
  ScopedEnvironment none("MORLANE_PORTS", std::nullopt);
  std::vector<std::string> system = PortTable::Discover({}).Paths();
  ASSERT_EQ(system.size(), 32u);
  EXPECT_EQ(system.front(), "\\\\.\\COM1");
  EXPECT_EQ(system.back(), "\\\\.\\COM32");
}

TEST(PortTableWindows, MissingPortIsNotFound) {
  Win32PortFactory factory(PortTable({"\\\\.\\COM250"}));
  PortOpenError error = PortOpenError::None;
  EXPECT_FALSE(factory.Open(1, &error));
  EXPECT_EQ(error, PortOpenError::NotFound);
}

}  // namespace
}  // namespace morlane
