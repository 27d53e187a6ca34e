// The simulated unit joined to the host in memory, as --simulate runs it on Windows: one
// host at a time, answers in order and when due, a dropped line failing the host's calls.
#include <gtest/gtest.h>

#include <string>

#include "sim/memory_line.h"

namespace morlane::sim {
namespace {

std::string ReadAnswer(SerialPort& port, int timeoutMs) {
  std::string text;
  while (text.find('\r') == std::string::npos && port.WaitReadable(timeoutMs)) {
    uint8_t buffer[64];
    int n = port.Read(buffer, sizeof buffer);
    if (n <= 0) break;
    text.append(buffer, buffer + n);
  }
  return text;
}

TEST(MemoryLine, HostExchangesWithTheUnitOneHostAtATime) {
  SimUnit unit;
  MemoryLine line(unit);
  ASSERT_TRUE(line.Start(nullptr));
  SimulatedPortFactory ports(line, nullptr);
  EXPECT_EQ(ports.PathOf(1), SimulatedPortFactory::kUnitPath);
  PortOpenError error = PortOpenError::Other;
  std::unique_ptr<SerialPort> host = ports.Open(1, &error);
  ASSERT_TRUE(host);
  EXPECT_EQ(error, PortOpenError::None);
  EXPECT_FALSE(ports.Open(1, &error));
  EXPECT_EQ(error, PortOpenError::Busy);
  EXPECT_FALSE(ports.Open(2, &error));
  EXPECT_EQ(error, PortOpenError::NotFound);

  ASSERT_TRUE(host->SetLine(9600));
  // Two commands written at once come back as two answers, in order.
  const std::string commands = "V2\rQ1\r";
  ASSERT_EQ(host->Write(reinterpret_cast<const uint8_t*>(commands.data()),
                        static_cast<int>(commands.size()), 100),
            static_cast<int>(commands.size()));
  std::string first = ReadAnswer(*host, 2000);
  EXPECT_EQ(first.substr(0, first.find('\r') + 1), *unit.ServiceAnswer("V2") + "\r");
  EXPECT_EQ(unit.ServiceCommandsSeen(), (std::vector<std::string>{"V2", "Q1"}));

  // A reopened port starts without what was left unread.
  host.reset();
  host = ports.Open(1, &error);
  ASSERT_TRUE(host);
  EXPECT_EQ(host->QueuedBytes(), 0);
}

TEST(MemoryLine, DroppedLineFailsTheHostAndStaysBounded) {
  SimUnit unit;
  MemoryLine line(unit);
  ASSERT_TRUE(line.Start(nullptr));
  std::unique_ptr<SerialPort> host = line.OpenHostPort(nullptr);
  ASSERT_TRUE(host);
  line.DropLine();
  uint8_t byte = 0;
  EXPECT_EQ(host->QueuedBytes(), -1);
  EXPECT_EQ(host->Read(&byte, 1), -1);
  EXPECT_EQ(host->Write(&byte, 1, 10), -1);
  EXPECT_FALSE(host->WaitReadable(50));
  EXPECT_FALSE(host->SetLine(19200));
  host.reset();
  PortOpenError error = PortOpenError::None;
  EXPECT_FALSE(line.OpenHostPort(&error));
  EXPECT_EQ(error, PortOpenError::NotFound);
}

}  // namespace
}  // namespace morlane::sim
