// The simulated unit's serial side on a pseudo-terminal, driven through the real termios
// layer as the tool's host side drives it.
#include "sim/pty_server.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "platform/termios_port.h"
#include "sim/sim_unit.h"

namespace morlane::sim {
namespace {

using Steady = std::chrono::steady_clock;

// Sends a command and collects the answer up to its carriage return.
std::string Ask(morlane::SerialPort& port, const std::string& command, int waitMs = 1000) {
  port.Write(reinterpret_cast<const uint8_t*>(command.data()), static_cast<int>(command.size()),
             1000);
  std::string answer;
  auto deadline = Steady::now() + std::chrono::milliseconds(waitMs);
  while (Steady::now() < deadline && (answer.empty() || answer.back() != '\r')) {
    port.WaitReadable(20);
    uint8_t buffer[64];
    int n = port.Read(buffer, sizeof buffer);
    if (n > 0) answer.append(reinterpret_cast<char*>(buffer), static_cast<size_t>(n));
  }
  return answer;
}

class PtyServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(server.Start(&error)) << error;
  }
  std::unique_ptr<morlane::SerialPort> OpenHost() {
    morlane::PortOpenError error = morlane::PortOpenError::None;
    auto port = morlane::OpenTermiosPort(server.SlavePath(), &error);
    EXPECT_TRUE(port) << morlane::PortOpenErrorText(error);
    return port;
  }

  SimUnit unit;
  PtyServer server{unit};
};

TEST_F(PtyServerTest, AnswersServiceCommandsAtNineSixHundred) {
  auto port = OpenHost();
  ASSERT_TRUE(port);
  ASSERT_TRUE(port->SetLine(9600));
  EXPECT_EQ(Ask(*port, "V2\r"), "(V2 01.20\r");
  EXPECT_EQ(Ask(*port, "NOSUCH\r"), "(NAK\r");
}

TEST_F(PtyServerTest, SurvivesTheHostClosingAndReopening) {
  for (int round = 0; round < 3; ++round) {
    auto port = OpenHost();
    ASSERT_TRUE(port) << "round " << round;
    ASSERT_TRUE(port->SetLine(9600));
    EXPECT_EQ(Ask(*port, "V3\r"), "(V3 03.40\r") << "round " << round;
  }
  // An answer that comes while the host has the port closed is not left for the next one.
  {
    auto port = OpenHost();
    ASSERT_TRUE(port->SetLine(9600));
    const std::string command = "Q1\r";
    port->Write(reinterpret_cast<const uint8_t*>(command.data()), 3, 1000);
  }
  // The unit took the command (its answer goes out in the same pass of the server).
  auto deadline = Steady::now() + std::chrono::seconds(2);
  while (unit.ServiceCommandsSeen().size() < 4 && Steady::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  ASSERT_EQ(unit.ServiceCommandsSeen().back(), "Q1");
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  auto port = OpenHost();
  ASSERT_TRUE(port);
  ASSERT_TRUE(port->SetLine(9600));
  EXPECT_EQ(port->QueuedBytes(), 0);
  EXPECT_EQ(Ask(*port, "V2\r"), "(V2 01.20\r");
}

TEST_F(PtyServerTest, SpeedSetAfterOpeningDecidesWhoListens) {
  auto port = OpenHost();
  ASSERT_TRUE(port);
  // Whatever speed the line had, the unit's firmware listens only at 9600.
  ASSERT_TRUE(port->SetLine(19200));
  EXPECT_EQ(Ask(*port, "V2\r", 300), "");
  ASSERT_TRUE(port->SetLine(9600));
  EXPECT_EQ(Ask(*port, "V2\r"), "(V2 01.20\r");
  auto received = unit.ReceivedBytes();
  ASSERT_EQ(received.size(), 6u);
  EXPECT_EQ(received.front().baud, 19200);
  EXPECT_EQ(received.back().baud, 9600);
}

TEST_F(PtyServerTest, ExclusiveFlagLeftByAHostThatDiedIsCleared) {
  // A host that set the flag and ended without clearing it, as a killed process does.
  int fd = ::open(server.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(ioctl(fd, TIOCEXCL), 0);
  ::close(fd);
  int probe = ::open(server.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(probe, 0);  // root passes the flag; the test checks the flag itself
  int exclusive = 1;
  auto deadline = Steady::now() + std::chrono::seconds(2);
  while (Steady::now() < deadline) {
    ASSERT_EQ(ioctl(probe, TIOCGEXCL, &exclusive), 0);
    if (!exclusive) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  EXPECT_EQ(exclusive, 0);

  // A host that holds its port keeps the flag.
  auto port = OpenHost();
  ASSERT_TRUE(port);
  std::this_thread::sleep_for(std::chrono::milliseconds(450));
  ASSERT_EQ(ioctl(probe, TIOCGEXCL, &exclusive), 0);
  EXPECT_EQ(exclusive, 1);
  ::close(probe);
}

TEST_F(PtyServerTest, DroppedLineFailsTheHostPort) {
  auto port = OpenHost();
  ASSERT_TRUE(port);
  ASSERT_TRUE(port->SetLine(9600));
  server.DropLine();
  auto deadline = Steady::now() + std::chrono::seconds(2);
  while (!server.LineDropped() && Steady::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  ASSERT_TRUE(server.LineDropped());
  EXPECT_EQ(port->QueuedBytes(), -1);
  uint8_t byte = 'x';
  EXPECT_EQ(port->Write(&byte, 1, 100), -1);
}

}  // namespace
}  // namespace morlane::sim
