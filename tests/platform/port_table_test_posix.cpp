// The serial devices of a Linux system, and the termios ports behind COM numbers.
#include <gtest/gtest.h>

#include "platform/port_table.h"
#include "platform/termios_port.h"

namespace morlane {
namespace {

TEST(PortTable, SystemDevicesComeInGroupsInNumericOrder) {
  std::vector<std::string> paths = PortTable::SystemSerialDevices();
  auto rank = [](const std::string& path) {
    for (const char* group : {"/dev/ttyUSB", "/dev/ttyACM", "/dev/ttyS"}) {
      if (path.rfind(group, 0) == 0) {
        std::string prefix(group);
        return std::make_pair(prefix == "/dev/ttyUSB"   ? 0
                              : prefix == "/dev/ttyACM" ? 1
                                                        : 2,
                              std::stoi(path.substr(prefix.size())));
      }
    }
    return std::make_pair(9, 0);
  };
  for (size_t i = 0; i < paths.size(); ++i) {
    EXPECT_LT(rank(paths[i]).first, 9) << paths[i];
    if (i > 0) {
      EXPECT_LT(rank(paths[i - 1]), rank(paths[i]));
    }
  }
}

TEST(PortTable, FactoryOpensByComNumber) {
  TermiosPortFactory factory(PortTable({"/does/not/exist"}));
  EXPECT_EQ(factory.PathOf(1), "/does/not/exist");
  PortOpenError error = PortOpenError::None;
  EXPECT_FALSE(factory.Open(1, &error));
  EXPECT_EQ(error, PortOpenError::NotFound);
  error = PortOpenError::None;
  EXPECT_FALSE(factory.Open(2, &error));  // no such entry
  EXPECT_EQ(error, PortOpenError::NotFound);
}

}  // namespace
}  // namespace morlane
