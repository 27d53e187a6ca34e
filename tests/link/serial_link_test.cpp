// CSerialLink: port search and open/close on in-memory lines.
#include "link/serial_link.h"

#include <gtest/gtest.h>

#include <cstring>

#include "support/memory_serial.h"
#include "support/virtual_clock.h"

namespace morlane {
namespace {

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

}  // namespace
}  // namespace morlane
