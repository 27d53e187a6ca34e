#include "ui/listed_ports.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>

#include "platform/port_table.h"
#include "support/memory_serial.h"
#include "support/virtual_clock.h"

namespace morlane {
namespace {

using ::testing::ElementsAre;
using ::testing::Field;

// A front end's ports named by path: what Open was asked for is recorded.
class NamedPorts : public SerialPortFactory {
 public:
  explicit NamedPorts(std::map<int, std::string> paths) : paths_(std::move(paths)) {}
  std::unique_ptr<SerialPort> Open(int comNumber, PortOpenError* error) override {
    opened.push_back(comNumber);
    if (error) *error = PortOpenError::NotFound;
    return nullptr;
  }
  std::string PathOf(int comNumber) const override {
    auto found = paths_.find(comNumber);
    return found == paths_.end() ? std::string() : found->second;
  }
  std::vector<int> opened;

 private:
  std::map<int, std::string> paths_;
};

std::map<int, std::string> SearchTable() {
  std::map<int, std::string> table;
  for (int n = 1; n <= 32; ++n) table[n] = PortTable::DevicePath("COM" + std::to_string(n));
  return table;
}

TEST(ListedPorts, EachSystemPortGetsANumberThatOpensItAndNoNameTwice) {
  test::VirtualClock clock;
  test::MemoryLine com5{clock}, com40{clock}, com1{clock};
  auto system = std::make_unique<test::MemoryPortFactory>();
  system->Add(1, &com5);
  system->Add(2, &com40);
  system->Add(3, &com1);
  const std::vector<std::string> paths = {
      PortTable::DevicePath("COM5"), PortTable::DevicePath("COM40"), PortTable::DevicePath("COM1")};
  // With the simulated unit as COM1, the system's own COM1 is another device.
  std::map<int, std::string> ownTable = SearchTable();
  ownTable[1] = "simulated unit";
  NamedPorts own(ownTable);
  ListedPortFactory listed(own, paths, std::move(system));

  // COM5 is the search's own and keeps its number there. Where the system names its ports
  // (Windows), COM40 keeps its number too and the system's COM1 is left out; elsewhere the
  // names are paths, and those the search lacks follow its numbers.
  const bool named = !PortTable::SystemName(paths[1]).empty();
  const int com40Number = named ? 40 : 33;
  if (named) {
    EXPECT_THAT(listed.Listed(),
                ElementsAre(Field(&ListedPort::number, 5), Field(&ListedPort::number, 40)));
  } else {
    EXPECT_THAT(listed.Listed(),
                ElementsAre(Field(&ListedPort::number, 5), Field(&ListedPort::number, 33),
                            Field(&ListedPort::number, 34)));
  }
  EXPECT_EQ(listed.Listed()[1].name, named ? "COM40" : paths[1]);
  // A port of the search's table is opened there; the others by the system.
  EXPECT_NE(listed.Open(com40Number, nullptr), nullptr);
  EXPECT_EQ(com40.Opens(), 1);
  EXPECT_EQ(listed.PathOf(com40Number), "mem:2");
  listed.Open(5, nullptr);
  EXPECT_EQ(own.opened, std::vector<int>{5});
  EXPECT_EQ(com5.Opens(), 0);
  EXPECT_EQ(listed.PathOf(1), "simulated unit");
}

}  // namespace
}  // namespace morlane
