// CSerialLink: reads and writes on real pseudo-terminals through the termios layer.
#include <gtest/gtest.h>

#include <cstring>

#include "link/serial_link.h"
#include "platform/pty_pair_fixture.h"
#include "platform/termios_port.h"
#include "support/virtual_clock.h"

namespace morlane {
namespace {

using test::ElapsedMs;
using test::PtyPair;
using Steady = std::chrono::steady_clock;

// I/O through the termios layer on a pseudo-terminal, the unit on the master side.
class SerialLinkPty : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(pair.Ok());
    ASSERT_EQ(link.Open(1, 9600), 1);
  }
  PtyPair pair;
  TermiosPortFactory ports{PortTable({pair.path})};
  CSerialLink link{ports, RealClock()};
};

TEST_F(SerialLinkPty, OpenSetsTheSpeedAndHoldsThePort) {
  EXPECT_EQ(pair.MasterSpeed(), static_cast<speed_t>(B9600));
  EXPECT_EQ(link.FindFreePort(), 0);  // our own port is in use
  link.Close();
  EXPECT_EQ(link.FindFreePort(), 1);
  ASSERT_EQ(link.Open(1, 19200), 1);
  EXPECT_EQ(pair.MasterSpeed(), static_cast<speed_t>(B19200));
}

TEST_F(SerialLinkPty, ReadAvailableTakesAtMostTheLimit) {
  uint8_t buffer[32] = {};
  EXPECT_EQ(link.ReadAvailable(buffer, 10), 0);
  pair.Send("0123456789ABCDEFGHIJKLMNO");
  auto deadline = Steady::now() + std::chrono::seconds(1);
  int got = 0;
  while (got == 0 && Steady::now() < deadline) got = link.ReadAvailable(buffer, 10);
  EXPECT_EQ(got, 10);
  EXPECT_EQ(std::memcmp(buffer, "0123456789", 10), 0);
  std::string rest;
  while (rest.size() < 15 && Steady::now() < deadline) {
    int n = link.ReadAvailable(buffer, 32);
    rest.append(reinterpret_cast<char*>(buffer), static_cast<size_t>(n));
  }
  EXPECT_EQ(rest, "ABCDEFGHIJKLMNO");
}

TEST_F(SerialLinkPty, SendAndWriteReachTheUnitInOrder) {
  const uint8_t text[] = {' ', 'f', 'M', 'a', 's', 't', '\r'};
  EXPECT_EQ(link.SendBytes(text, 7), 7);
  const uint8_t frame[] = {0xAA, 0x00, 0xFF};
  EXPECT_EQ(link.WriteBytes(frame, 3), 1);
  EXPECT_EQ(pair.Received(10), std::string(" fMast\r\xAA\x00\xFF", 10));
}

TEST_F(SerialLinkPty, ReadLineStopsAtTheCarriageReturn) {
  pair.Send("V2\rrest");
  uint8_t buffer[128] = {};
  auto start = Steady::now();
  EXPECT_EQ(link.ReadLine(buffer, 128, 2), 1);
  EXPECT_LT(ElapsedMs(start), 1000);
  EXPECT_EQ(buffer[0], 'V');
  EXPECT_EQ(buffer[1], '2');
  EXPECT_EQ(buffer[2], 13);
  EXPECT_EQ(buffer[3], 0);
  // Nothing is read ahead: the bytes after the carriage return stay queued.
  uint8_t rest[8] = {};
  EXPECT_EQ(link.ReadAvailable(rest, 8), 4);
}

TEST_F(SerialLinkPty, ReadLineOf128BytesWithoutCarriageReturnFails) {
  pair.Send(std::string(128, 'x'));
  uint8_t buffer[129] = {};
  EXPECT_EQ(link.ReadLine(buffer, 128, 2), 0);
  EXPECT_EQ(buffer[127], 'x');
  EXPECT_EQ(buffer[128], 0);  // never past the capacity
}

TEST_F(SerialLinkPty, ReadLineInSilenceWaitsOneToTwoSecondsWithoutSpinning) {
  uint8_t buffer[128] = {};
  auto start = Steady::now();
  int64_t cpuBefore = test::ThreadCpuMs();
  EXPECT_EQ(link.ReadLine(buffer, 128, 2), 0);
  int64_t elapsed = ElapsedMs(start);
  EXPECT_GE(elapsed, 990);
  EXPECT_LE(elapsed, 2500);
  EXPECT_LT(test::ThreadCpuMs() - cpuBefore, 100);
}

TEST_F(SerialLinkPty, LineGoneMidSessionFailsQuietlyAndStaysBounded) {
  pair.CloseMaster();
  uint8_t buffer[128] = {};
  EXPECT_EQ(link.ReadAvailable(buffer, 10), 0);
  EXPECT_EQ(link.SendBytes(buffer, 3), 3);
  EXPECT_EQ(link.WriteBytes(buffer, 3), 1);
  auto start = Steady::now();
  int64_t cpuBefore = test::ThreadCpuMs();
  EXPECT_EQ(link.ReadLine(buffer, 128, 2), 0);
  EXPECT_LE(ElapsedMs(start), 2500);
  EXPECT_LT(test::ThreadCpuMs() - cpuBefore, 100);
  EXPECT_EQ(link.Close(), 1);
}

}  // namespace
}  // namespace morlane
