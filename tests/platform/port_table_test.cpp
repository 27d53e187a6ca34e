// Which device path stands as COM n.
#include "platform/port_table.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>

#include "platform/termios_port.h"

namespace morlane {
namespace {

// Sets MORLANE_PORTS for one test and restores what was there.
class PortsEnvironment {
 public:
  explicit PortsEnvironment(const char* value) {
    if (const char* old = std::getenv("MORLANE_PORTS")) saved_ = old;
    if (value) {
      setenv("MORLANE_PORTS", value, 1);
    } else {
      unsetenv("MORLANE_PORTS");
    }
  }
  ~PortsEnvironment() {
    if (saved_) {
      setenv("MORLANE_PORTS", saved_->c_str(), 1);
    } else {
      unsetenv("MORLANE_PORTS");
    }
  }

 private:
  std::optional<std::string> saved_;
};

TEST(PortTable, CommandLineThenEnvironmentThenSystem) {
  PortsEnvironment environment("/dev/envA::/dev/envB:");
  PortTable given = PortTable::Discover({"/dev/cliA", "/dev/cliB"});
  EXPECT_EQ(given.Paths(), (std::vector<std::string>{"/dev/cliA", "/dev/cliB"}));
  // Empty entries of the list are passed over; COM numbers stay dense.
  PortTable fromEnvironment = PortTable::Discover({});
  EXPECT_EQ(fromEnvironment.Paths(), (std::vector<std::string>{"/dev/envA", "/dev/envB"}));
  EXPECT_EQ(fromEnvironment.PathOf(2), "/dev/envB");

  PortsEnvironment none(nullptr);
  EXPECT_EQ(PortTable::Discover({}).Paths(), PortTable::SystemSerialDevices());
}

TEST(PortTable, NumbersOneToThirtyTwo) {
  std::vector<std::string> many;
  for (int i = 0; i < 40; ++i) many.push_back("/dev/p" + std::to_string(i));
  PortTable table = PortTable::Discover(many);
  EXPECT_EQ(table.Count(), 32);
  EXPECT_EQ(table.PathOf(1), "/dev/p0");
  EXPECT_EQ(table.PathOf(32), "/dev/p31");
  EXPECT_EQ(table.PathOf(0), "");
  EXPECT_EQ(table.PathOf(33), "");
  EXPECT_EQ(table.PathOf(-1), "");
}

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
