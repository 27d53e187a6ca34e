// Which device path stands as COM n.
#include "platform/port_table.h"

#include <gtest/gtest.h>

#include "support/environment.h"

namespace morlane {
namespace {

using test::ScopedEnvironment;

TEST(PortTable, CommandLineThenEnvironmentThenSystem) {
  const std::string separator(1, PortTable::PathSeparator());
  ScopedEnvironment environment("MORLANE_PORTS",
                                "/dev/envA" + separator + separator + "/dev/envB" + separator);
  PortTable given = PortTable::Discover({"/dev/cliA", "/dev/cliB"});
  EXPECT_EQ(given.Paths(), (std::vector<std::string>{"/dev/cliA", "/dev/cliB"}));
  // Empty entries of the list are passed over; COM numbers stay dense.
  PortTable fromEnvironment = PortTable::Discover({});
  EXPECT_EQ(fromEnvironment.Paths(), (std::vector<std::string>{"/dev/envA", "/dev/envB"}));
  EXPECT_EQ(fromEnvironment.PathOf(2), "/dev/envB");

  ScopedEnvironment none("MORLANE_PORTS", std::nullopt);
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

  // A station makes a unit of every port it is given, however many.
  PortTable station = PortTable::DiscoverPresent(many);
  EXPECT_EQ(station.Count(), 40);
  EXPECT_EQ(station.PathOf(40), "/dev/p39");
}

TEST(PortTable, StationTableIsTheGivenPathsElseThePortsTheSystemHas) {
  const std::string separator(1, PortTable::PathSeparator());
  ScopedEnvironment environment("MORLANE_PORTS", "/dev/envA" + separator + "/dev/envB");
  EXPECT_EQ(PortTable::DiscoverPresent({"/dev/cliA"}).Paths(),
            (std::vector<std::string>{"/dev/cliA"}));
  EXPECT_EQ(PortTable::DiscoverPresent({}).Paths(),
            (std::vector<std::string>{"/dev/envA", "/dev/envB"}));
  ScopedEnvironment none("MORLANE_PORTS", std::nullopt);
  EXPECT_EQ(PortTable::DiscoverPresent({}).Paths(), PortTable::PresentSerialDevices());
}

}  // namespace
}  // namespace morlane
