// The Qt window's station run as a program, as an operator runs it from a terminal: units
// put into their fixtures and taken out, an image that is not the approved one, Ctrl-C
// while a unit runs, and again once the station has stopped.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "support/process.h"
#include "support/window_station.h"

namespace morlane {
namespace {

TEST(StationProgram, PresenceRunsAnUnapprovedImageAndCtrlCWithAUnitRunning) {
  test::TempDir dir;
  test::SimProcess a(MORLANE_UNIT_SIM, {"--taken-out"});
  test::SimProcess b(MORLANE_UNIT_SIM, {"--taken-out"});
  ASSERT_TRUE(a.Running() && b.Running());
  test::WindowStationShift shift(dir, a, b, {a.Path(), b.Path()});
  shift.records = [&dir] {
    test::ProcessResult list = test::RunProcess(
        {MORLANE_CLI, "--records", dir.File("out"), "records", "list", "--json"}, "", 30);
    EXPECT_EQ(list.status, 0) << list.err;
    return test::SplitLines(list.out);
  };
  std::vector<std::string> argv{MORLANE_GUI_PROGRAM};
  for (const std::string& argument : shift.WindowArguments()) argv.push_back(argument);
  test::Background window(argv, dir);
  // The first Ctrl-C stops the station: the running unit finishes and the window stays with
  // the last verdicts; a Ctrl-C once no unit runs closes it.
  shift.Drive(window, [&window] {
    window.Interrupt();
    EXPECT_TRUE(window.WaitFor("stderr", "Stopping: the running units finish first", 30));
    EXPECT_TRUE(
        window.WaitFor("stderr", "Stopped: the last verdicts stay until the window is closed", 90))
        << window.Text("stderr");
    EXPECT_EQ(window.Wait(1), -1) << "the window went with the station";
    window.Interrupt();
  });
  EXPECT_THAT(window.Text("stderr"),
              testing::HasSubstr("station fault: an approved image changed"));
}

}  // namespace
}  // namespace morlane
