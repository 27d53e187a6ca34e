// `doctor` on Windows: the COM ports the system has are opened to learn their state; the
// Linux checks are said not to apply.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "cli/host_report.h"
#include "cli/scratch_host.h"
#include "support/process.h"

namespace morlane {
namespace {

using ::testing::ElementsAre;

TEST(DoctorOnWindows, PortInUseBlocksAndPortsTheSystemLacksAreNotFindings) {
  test::ScratchPorts ports;
  ports.entries = {{"\\\\.\\COM1", PortOpenError::NotFound},
                   {"\\\\.\\COM2", PortOpenError::Busy},
                   {"\\\\.\\COM3", PortOpenError::None}};
  test::ScratchHid hid;
  hid.devices = {{"\\\\?\\hid#vid_0590&pid_004b", 0x590, 0x4b}};
  UserIdentity user;
  user.name = "tech";
  HostInspection inspection(HostRoots::System(), user);
  const std::string note =
      "note: groups, udev rules and modem managers are not Windows matters; the ports and the "
      "unit's USB device are checked";
  int status = -1;
  EXPECT_THAT(test::SplitLines(DoctorReport(HostView{ports, hid, inspection}, &status)),
              ElementsAre(note,
                          "problem: COM2 \\\\.\\COM2 is in use by a program you cannot see: "
                          "close the program that has it open",
                          "1 problem blocks use: fix it as said above"));
  EXPECT_EQ(status, 1);

  ports.entries[1].second = PortOpenError::None;
  EXPECT_THAT(test::SplitLines(DoctorReport(HostView{ports, hid, inspection}, &status)),
              ElementsAre(note, "all well: nothing stands between tech and the unit"));
  EXPECT_EQ(status, 0);
}

}  // namespace
}  // namespace morlane
