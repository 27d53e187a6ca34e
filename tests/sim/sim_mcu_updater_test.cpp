// The simulated unit's MCU updater, spoken to with raw reports: it must be as strict as
// the unit, so that a wrong report from the tool shows up as a refused update.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "sim/mcu_updater_role.h"
#include "sim/sim_unit.h"
#include "sim/sim_usb.h"
#include "support/virtual_clock.h"

namespace morlane::sim {
namespace {

using Bytes = std::vector<uint8_t>;

class SimMcuUpdaterTest : public ::testing::Test {
 protected:
  // Sends one report with this payload; returns the first byte of the reply, -1 for none.
  int Send(const Bytes& payload) {
    Bytes report{0x00, 0xCC, 0x99, static_cast<uint8_t>(payload.size())};
    report.insert(report.end(), payload.begin(), payload.end());
    report.resize(69, 0);
    InProcessHidDevice& device = *usb.Device();
    device.HostWrite(report.data(), static_cast<int>(report.size()), 500);
    Bytes input(65);
    if (device.HostRead(input.data(), 65, 500) <= 0) return -1;
    while (device.QueuedInputReports() > 0) device.HostRead(input.data() + 1, 64, 0);
    return input[1];
  }
  int Select() { return Send({' ', 'f', 'M', 'a', 's', 't'}); }
  int Table() {
    return Send({'W', 8, 0, 0,    0, 0, 0, 0,    4, 0, 0, 0, 8, 0, 0, 0,    0x0C,
                 0,   0, 0, 0x10, 0, 0, 0, 0x80, 0, 0, 1, 0, 0, 0, 1, 0x80, 0});
  }
  int Size(uint32_t n) {
    return Send({0, 0, 0, 0, static_cast<uint8_t>(n >> 24), static_cast<uint8_t>(n >> 16),
                 static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n)});
  }
  int Data(int n, uint8_t value) {
    Bytes payload(static_cast<size_t>(n) + 1, value);
    payload[0] = 0x11;
    return Send(payload);
  }
  McuInstall Installed() { return dynamic_cast<McuUpdaterRole&>(usb.McuUpdater()).Install(); }

  test::VirtualClock clock;
  SimUnit unit;
  SimUsb usb{unit, clock};
};

TEST_F(SimMcuUpdaterTest, InstallsWhenCountAndChecksumMatch) {
  EXPECT_EQ(Select(), 0x06);
  EXPECT_EQ(Table(), 0x06);
  EXPECT_EQ(Size(100), 0x11);
  EXPECT_EQ(Data(64, 0x01), 0x11);
  EXPECT_EQ(Data(36, 0x02), 0x11);
  uint8_t sum = static_cast<uint8_t>(64 * 1 + 36 * 2);
  EXPECT_EQ(Send({0x11, static_cast<uint8_t>(~sum + 1)}), 0x15);
  EXPECT_EQ(Send({0x11, static_cast<uint8_t>(~sum)}), 0x07);
  McuInstall install = Installed();
  EXPECT_TRUE(install.installed);
  EXPECT_EQ(install.image.size(), 100u);
  EXPECT_EQ(install.image[63], 0x01);
  EXPECT_EQ(install.image[64], 0x02);
  // Nothing more belongs to this update.
  EXPECT_EQ(Data(64, 0), 0x15);
}

TEST_F(SimMcuUpdaterTest, RefusesWhatTheUnitWouldNotTake) {
  // Before a selection the reports are service commands.
  EXPECT_EQ(Table(), '(');
  EXPECT_EQ(Select(), 0x06);
  EXPECT_EQ(Send({'W', 8, 0, 0}), 0x15);
  EXPECT_EQ(Table(), 0x06);
  EXPECT_EQ(Size(0), 0x15);
  EXPECT_EQ(Table(), 0x06);
  EXPECT_EQ(Size(McuUpdaterRole::kMaxImage + 1), 0x15);
  EXPECT_EQ(Table(), 0x06);
  EXPECT_EQ(Size(70), 0x11);
  // Blocks cut short, or longer than what is left of the image.
  EXPECT_EQ(Data(32, 0), 0x15);
  EXPECT_EQ(Data(64, 0), 0x11);
  EXPECT_EQ(Data(64, 0), 0x15);
  // The end report before the image is complete is a one-byte block of the wrong size.
  EXPECT_EQ(Send({0x11, 0xFF}), 0x15);
  EXPECT_EQ(Installed().image.size(), 64u);
  EXPECT_FALSE(Installed().installed);
  // A service command in the middle is still answered as one.
  EXPECT_EQ(Send({'V', '2', '\r'}), '(');
}

TEST_F(SimMcuUpdaterTest, FaultSwitchesActOnTheUpdateRepliesOnly) {
  unit.Faults().mcuTopBitReplies = true;
  EXPECT_EQ(Select(), 0x06);
  EXPECT_EQ(Table(), 0x86);
  unit.Faults().mcuTopBitReplies = false;
  unit.Faults().mcuSilent = true;
  EXPECT_EQ(Select(), 0x06);
  EXPECT_EQ(Table(), -1);
  unit.Faults().mcuSilent = false;

  unit.Faults().mcuErrorAfterBlocks = 1;
  EXPECT_EQ(Select(), 0x06);
  EXPECT_EQ(Table(), 0x06);
  EXPECT_EQ(Size(128), 0x11);
  EXPECT_EQ(Data(64, 0), 0x11);
  EXPECT_EQ(Data(64, 0), 0x15);
}

TEST_F(SimMcuUpdaterTest, SlowUnitRepliesAfterTheDelayInOrder) {
  unit.Faults().replyDelayMs = 100;
  auto start = std::chrono::steady_clock::now();
  // The write returns at once; the reply is not there yet.
  EXPECT_EQ(Select(), -1);
  InProcessHidDevice& device = *usb.Device();
  while (device.QueuedInputReports() == 0 &&
         std::chrono::steady_clock::now() - start < std::chrono::seconds(5)) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(100));
  Bytes input(65);
  ASSERT_EQ(device.HostRead(input.data(), 65, 0), 65);
  EXPECT_EQ(input[1], 0x06);
}

}  // namespace
}  // namespace morlane::sim
