// CSerialLink: port search and open/close on in-memory lines, reads and writes on real
// pseudo-terminals through the termios layer.
#include "link/serial_link.h"

#include <gtest/gtest.h>

#include <cstring>

#include "platform/pty_pair_fixture.h"
#include "platform/termios_port.h"
#include "support/memory_serial.h"
#include "support/virtual_clock.h"

namespace morlane {
namespace {

using test::ElapsedMs;
using test::PtyPair;
using Steady = std::chrono::steady_clock;

class SerialLinkLogic : public ::testing::Test {
 protected:
  test::VirtualClock clock;
  test::MemoryLine com1{clock};
  test::MemoryLine com2{clock};
  test::MemoryLine com3{clock};
  test::MemoryPortFactory ports;
  CSerialLink link{ports, clock};
};

TEST_F(SerialLinkLogic, FindFreePortSkipsBusyPortsAndClosesWhatItFound) {
  ports.Add(1, &com1);
  ports.Add(2, &com2);
  com1.SetBusy(true);
  EXPECT_EQ(link.FindFreePort(), 2);
  EXPECT_EQ(com2.Opens(), 1);
  // Found and let go again: the link is not open, and the port can be had at once.
  EXPECT_FALSE(link.IsOpen());
  EXPECT_EQ(link.Open(2, 9600), 1);
  com2.SetBusy(true);
  EXPECT_EQ(link.FindFreePort(), 0);  // none of 1 to 32 opens
  link.Close();
  EXPECT_EQ(link.Open(0, 9600), 0);
}

TEST_F(SerialLinkLogic, FindFreePortSearchesUpToThirtyTwo) {
  test::MemoryLine com32{clock};
  test::MemoryLine com33{clock};
  ports.Add(32, &com32);
  ports.Add(33, &com33);
  EXPECT_EQ(link.FindFreePort(), 32);
  com32.SetBusy(true);
  EXPECT_EQ(link.FindFreePort(), 0);
  EXPECT_EQ(com33.Opens(), 0);
}

TEST_F(SerialLinkLogic, OpenOnAnOpenLinkKeepsPortAndSpeed) {
  ports.Add(3, &com3);
  ports.Add(1, &com1);
  EXPECT_EQ(link.Open(3, 9600), 1);
  EXPECT_EQ(link.Open(3, 19200), 1);
  EXPECT_EQ(link.Open(1, 19200), 1);
  EXPECT_EQ(com3.Opens(), 1);
  EXPECT_EQ(com1.Opens(), 0);
  EXPECT_EQ(com3.Baud(), 9600);
  EXPECT_EQ(link.Port(), 3);
  EXPECT_EQ(link.Baud(), 9600);
  // Changing speed takes a Close first.
  EXPECT_EQ(link.Close(), 1);
  EXPECT_EQ(link.Open(3, 19200), 1);
  EXPECT_EQ(com3.Baud(), 19200);
}

TEST_F(SerialLinkLogic, CloseIsHarmlessWhenClosedAndOpenFailuresLeaveItClosed) {
  EXPECT_EQ(link.Close(), 1);
  EXPECT_EQ(link.Close(), 1);
  EXPECT_EQ(link.Open(1, 9600), 0);  // no such port
  EXPECT_EQ(link.LastOpenError(), PortOpenError::NotFound);
  ports.Add(1, &com1);
  com1.Fail();  // opens, but the line settings cannot be applied
  EXPECT_EQ(link.Open(1, 9600), 0);
  EXPECT_FALSE(link.IsOpen());
  EXPECT_EQ(link.LastOpenError(), PortOpenError::Unconfigurable);
  uint8_t byte = 'x';
  EXPECT_EQ(link.SendBytes(&byte, 1), 0);
  EXPECT_EQ(link.WriteBytes(&byte, 1), 0);
  EXPECT_EQ(link.ReadAvailable(&byte, 1), 0);
  EXPECT_TRUE(com1.Writes().empty());
}

TEST_F(SerialLinkLogic, WritesHandTheBytesOverInOrder) {
  ports.Add(1, &com1);
  ASSERT_EQ(link.Open(1, 19200), 1);
  const uint8_t text[] = {'V', '2', '\r'};
  EXPECT_EQ(link.SendBytes(text, 3), 3);
  // One byte per write, as the unit's firmware takes them.
  ASSERT_EQ(com1.Writes().size(), 3u);
  EXPECT_EQ(com1.Writes()[2], std::vector<uint8_t>{'\r'});
  const uint8_t frame[] = {0x02, 0x10, 0x20, 0x03};
  EXPECT_EQ(link.WriteBytes(frame, 4), 1);
  EXPECT_EQ(com1.Writes().back(), std::vector<uint8_t>(frame, frame + 4));
  // Loss is not reported here: a failed line still answers with the count and 1.
  com1.Fail();
  EXPECT_EQ(link.SendBytes(text, 3), 3);
  EXPECT_EQ(link.WriteBytes(frame, 4), 1);
  uint8_t buffer[4];
  EXPECT_EQ(link.ReadAvailable(buffer, 4), 0);
}

TEST_F(SerialLinkLogic, ReadLineTimesOutOnTheCalendarClock) {
  ports.Add(1, &com1);
  ASSERT_EQ(link.Open(1, 9600), 1);
  uint8_t buffer[16] = {};
  EXPECT_EQ(link.ReadLine(buffer, 16, 2), 0);
  EXPECT_GE(clock.MonotonicMs(), 1000);
  EXPECT_LE(clock.MonotonicMs(), 2100);
  // A capacity of nothing cannot hold a byte: it overflows instead of writing one.
  com1.Queue({'A', '\r'});
  EXPECT_EQ(link.ReadLine(buffer, 0, 2), 0);
  EXPECT_EQ(buffer[0], 0);
}

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
