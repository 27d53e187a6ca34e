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
  const std::string note = "note: the COM ports and the unit's USB device are checked";
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

  // A port the system listed that is no serial port: the user is told to name the unit's
  // port, never to correct a --port never given.
  ports.entries[2].second = PortOpenError::Unconfigurable;
  EXPECT_THAT(test::SplitLines(DoctorReport(HostView{ports, hid, inspection}, &status)),
              ElementsAre(note,
                          "problem: COM3 \\\\.\\COM3 is not a serial port: name the unit's "
                          "port with --port",
                          "1 problem blocks use: fix it as said above"));
  HostView given{ports, hid, inspection};
  given.portsGiven = true;
  EXPECT_THAT(test::SplitLines(DoctorReport(given, &status))[1],
              ::testing::EndsWith("correct the path given with --port or MORLANE_PORTS"));
}

}  // namespace
}  // namespace morlane
