// Whole runs of morlane-cli against morlane-unit-sim: opening and closing each link.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include "support/process.h"

namespace morlane {
namespace {

using test::RunProcess;
using test::SimProcess;
using test::SplitLines;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

const std::string kDash38 = "--------------------------------------";
const std::string kDash36 = "------------------------------------";

test::ProcessResult Cli(const std::vector<std::string>& args) {
  std::vector<std::string> argv{MORLANE_CLI};
  argv.insert(argv.end(), args.begin(), args.end());
  return RunProcess(argv, "", 60);
}

TEST(LinkE2E, OpenOnTheSimulatedUnitsPortAndCloseAgain) {
  SimProcess sim(MORLANE_UNIT_SIM);
  ASSERT_TRUE(sim.Running());
  // Twice: the unit's line must take a host that closed its port and comes back.
  for (int run = 0; run < 2; ++run) {
    test::ProcessResult result = Cli({"--port", sim.Path(), "open"});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_THAT(SplitLines(result.out),
                ElementsAre("Com1 is opened,please insert com1 cable to inverter and", "pc.",
                            kDash38, "Close Serial MCU OK!", kDash36));
  }
}

TEST(LinkE2E, PortHeldByAnotherProgramIsPassedOver) {
  SimProcess first(MORLANE_UNIT_SIM);
  SimProcess second(MORLANE_UNIT_SIM);
  ASSERT_TRUE(first.Running());
  ASSERT_TRUE(second.Running());
  int holder = ::open(first.Path().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(holder, 0);
  ASSERT_EQ(flock(holder, LOCK_EX | LOCK_NB), 0);
  test::ProcessResult result = Cli({"--port", first.Path(), "--port", second.Path(), "open"});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_THAT(SplitLines(result.out),
              ElementsAre("Com2 is opened,please insert com1 cable to inverter and", "pc.", kDash38,
                          "Close Serial MCU OK!", kDash36));

  test::ProcessResult listing = Cli({"--port", first.Path(), "--port", second.Path(), "ports"});
  EXPECT_EQ(listing.status, 0);
  std::vector<std::string> lines = SplitLines(listing.out);
  // The holder is this test program, named as the kernel keeps it (15 characters).
  ASSERT_EQ(lines.size(), 4u) << listing.out;
  EXPECT_EQ(lines[0], "COM1 " + first.Path() + " busy");
  EXPECT_EQ(lines[1], "  held by morlane_tests_e (pid " + std::to_string(getpid()) + ")");
  EXPECT_EQ(lines[2], "COM2 " + second.Path() + " free");
  ::close(holder);
}

TEST(LinkE2E, MissingPortNamesComZeroAndFails) {
  test::TempDir dir;
  test::ProcessResult result =
      Cli({"--port", "/does/not/exist", "--log-json", dir.File("log.json"), "open"});
  EXPECT_EQ(result.status, 1);
  EXPECT_THAT(
      SplitLines(result.out),
      ElementsAre("Can Not Open Com0,Please Modify The INI File to Change Com Port", kDash38));
  std::vector<uint8_t> json = dir.Read("log.json");
  EXPECT_EQ(
      std::string(json.begin(), json.end()),
      "\"Can Not Open Com0,Please Modify The INI File to Change Com Port\"\n\"" + kDash38 + "\"\n");
}

TEST(LinkE2E, UsbOpenOnTheSimulatedUnit) {
  test::ProcessResult result = Cli({"--simulate", "open", "--link", "usb"});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_THAT(SplitLines(result.out), ElementsAre("Find the HID Device OK!", kDash38,
                                                  "Can not get Inverter's version info!!", kDash38,
                                                  kDash38, kDash38, "Close HID MCU OK!", kDash36));
}

TEST(LinkE2E, PortsListsEachComNumberAndTheUnitOnUsb) {
  SimProcess sim(MORLANE_UNIT_SIM);
  ASSERT_TRUE(sim.Running());
  test::ProcessResult result = Cli({"--port", sim.Path(), "--port", "/does/not/exist", "ports"});
  EXPECT_EQ(result.status, 0) << result.err;
  std::vector<std::string> lines = SplitLines(result.out);
  ASSERT_EQ(lines.size(), 3u) << result.out;
  EXPECT_EQ(lines[0], "COM1 " + sim.Path() + " free");
  EXPECT_EQ(lines[1], "COM2 /does/not/exist not found");
  EXPECT_THAT(lines[2], HasSubstr("USB 0590:004b "));

  // With the simulated unit, its USB side is present.
  test::ProcessResult simulated = Cli({"--simulate", "ports"});
  EXPECT_EQ(simulated.status, 0);
  std::vector<std::string> simLines = SplitLines(simulated.out);
  ASSERT_EQ(simLines.size(), 2u) << simulated.out;
  EXPECT_THAT(simLines[0], ::testing::MatchesRegex("COM1 /dev/pts/[0-9]+ free"));
  EXPECT_EQ(simLines[1], "USB 0590:004b present");
}

// On this machine as it is: whatever it has or lacks (no /dev/serial/by-id, no unit, no
// rule), both commands end at once with lines of their own forms.
TEST(LinkE2E, PortsAndDoctorOnThisMachineEndWithWellFormedLines) {
  test::ProcessResult ports = Cli({"ports"});
  EXPECT_EQ(ports.status, 0) << ports.err;
  std::vector<std::string> lines = SplitLines(ports.out);
  ASSERT_FALSE(lines.empty());
  for (const std::string& line : lines) {
    EXPECT_THAT(line, ::testing::MatchesRegex("COM[0-9]+ [^ ]+ [a-z ]+|  stable name [^ ]+|"
                                              "  usb [0-9a-f]{4}:[0-9a-f]{4}( serial .+)?|"
                                              "  held by .+ \\(pid [0-9]+\\)|"
                                              "USB 0590:004b (present|absent)|"
                                              "  hid [^ ]+ (can be opened|permission denied)"));
  }
  EXPECT_THAT(lines.back(), ::testing::MatchesRegex("USB 0590:004b (present|absent)|  hid .*"));

  test::ProcessResult doctor = Cli({"doctor"});
  EXPECT_TRUE(doctor.status == 0 || doctor.status == 1) << doctor.status << doctor.err;
  lines = SplitLines(doctor.out);
  ASSERT_FALSE(lines.empty());
  for (size_t i = 0; i + 1 < lines.size(); ++i)
    EXPECT_THAT(lines[i], ::testing::MatchesRegex("(problem|advice|note): .+"));
  if (doctor.status == 0) {
    EXPECT_THAT(lines.back(), ::testing::MatchesRegex("all well: .+|nothing blocks use: .+"));
  } else {
    EXPECT_THAT(lines.back(), ::testing::MatchesRegex("[0-9]+ problems? blocks? use: .+"));
  }
}

}  // namespace
}  // namespace morlane
