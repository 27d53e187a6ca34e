// --help and --version of morlane-cli and morlane-unit-sim, as a technician and the
// package's scripts call them: printed on stdout, exit status 0, nothing else done.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "flash/test_image_maker.h"
#include "support/process.h"

namespace morlane {
namespace {

using test::RunProcess;
using ::testing::HasSubstr;

TEST(ProgramOptions, CliVersionAndHelpEvenBeforeACommand) {
  test::ProcessResult version = RunProcess({MORLANE_CLI, "--version"}, "", 30);
  EXPECT_EQ(version.status, 0) << version.err;
  EXPECT_EQ(version.out, std::string("morlane-cli ") + MORLANE_VERSION + "\n");
  // Version wins over a command that would open a port.
  version = RunProcess({MORLANE_CLI, "--version", "open"}, "", 30);
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out, std::string("morlane-cli ") + MORLANE_VERSION + "\n");

  test::ProcessResult help = RunProcess({MORLANE_CLI, "--help"}, "", 30);
  EXPECT_EQ(help.status, 0) << help.err;
  for (const char* text : {"--version", "--port PATH", "--dir DIR", "ports", "flash", "prepare"}) {
    EXPECT_THAT(help.out, HasSubstr(text));
  }
  test::ProcessResult commandHelp = RunProcess({MORLANE_CLI, "flash", "--help"}, "", 30);
  EXPECT_EQ(commandHelp.status, 0);
  EXPECT_THAT(commandHelp.out, HasSubstr("--cpu"));
}

TEST(ProgramOptions, UnitSimHelpVersionAndUsageErrors) {
  test::ProcessResult version = RunProcess({MORLANE_UNIT_SIM, "--version"}, "", 30);
  EXPECT_EQ(version.status, 0) << version.err;
  EXPECT_EQ(version.out, std::string("morlane-unit-sim ") + MORLANE_VERSION + "\n");

  // Help after a switch still only prints: no terminal is opened.
  test::ProcessResult help = RunProcess({MORLANE_UNIT_SIM, "--silent", "--help"}, "", 30);
  EXPECT_EQ(help.status, 0) << help.err;
  EXPECT_THAT(help.out, HasSubstr("Usage: morlane-unit-sim [options]"));
  EXPECT_THAT(help.out, HasSubstr("--drop-acks-after N"));
  EXPECT_THAT(help.out, HasSubstr("--mcu-size-07"));

  for (const std::vector<std::string>& wrong :
       {std::vector<std::string>{"--bogus"}, {"--answer-delay-ms"}, {"--line-gone-after", "x"}}) {
    std::vector<std::string> argv{MORLANE_UNIT_SIM};
    argv.insert(argv.end(), wrong.begin(), wrong.end());
    test::ProcessResult result = RunProcess(argv, "", 30);
    EXPECT_EQ(result.status, 2) << wrong[0];
    EXPECT_TRUE(result.out.empty());
    EXPECT_THAT(result.err, HasSubstr("Usage: morlane-unit-sim"));
  }
}

// A log line that cannot be written to --log-json is never dropped in silence: the run
// says so and does not pass.
TEST(ProgramOptions, LogJsonThatCannotBeWrittenFailsTheRun) {
  test::ProcessResult run =
      RunProcess({MORLANE_CLI, "--simulate", "--log-json", "/dev/full", "open"}, "", 30);
  EXPECT_EQ(run.status, 1) << run.err;
  EXPECT_THAT(run.err, HasSubstr("/dev/full: not every log line could be written"));
}

// --unit-id: an id that could play on a terminal, a slot the run does not have, or one unit
// on two slots is refused before any port is opened, never dropped or taken as it is.
TEST(ProgramOptions, UnitIdsThatCannotBeTakenAreUsageErrors) {
  test::TempDir dir;
  dir.Write("Master.bin", std::string("not read: the run is refused before"));
  const std::vector<std::vector<std::string>> wrong = {
      {"--simulate", "--unit-id", "COM1=SN\x1b[2J", "flash", dir.File("Master.bin")},
      {"--simulate", "--unit-id", "COM2=SN1", "flash", dir.File("Master.bin")},
      {"--simulate-units", "2", "--unit-id", "COM1=SN1", "--unit-id", "COM2=SN1", "gang", "auto"},
      {"--simulate-units", "1", "--unit-id", "COM1=", "gang", "auto"},
      {"--simulate-units", "2", "--unit-id", "com3=SN1", "gang", "auto"}};
  const std::vector<std::string> why = {"control characters", "no unit of this run is on COM2",
                                        "one unit cannot be on two slots", "an empty unit id",
                                        "no unit of this run is on COM3"};
  for (size_t i = 0; i < wrong.size(); ++i) {
    std::vector<std::string> argv{MORLANE_CLI, "--dir", dir.Path()};
    argv.insert(argv.end(), wrong[i].begin(), wrong[i].end());
    test::ProcessResult result = RunProcess(argv, "", 30);
    EXPECT_EQ(result.status, 2) << result.err;
    EXPECT_THAT(result.err, HasSubstr(why[i]));
    EXPECT_EQ(result.err.find('\x1b'), std::string::npos) << result.err;
  }
}

// Option values are taken in any case, as a technician types them: the run goes on as if
// written in the help's own case.
TEST(ProgramOptions, OptionValuesInAnyCase) {
  test::TempDir dir;
  dir.Write("fw.bin", test::MakeInverterImage({{0x0100, test::Words(2, 0x6000)}}));
  test::ProcessResult slave =
      RunProcess({MORLANE_CLI, "--simulate", "--dir", dir.Path(), "--records", "out", "flash",
                  "fw.bin", "--cpu", "SLAVE", "--quiet"},
                 "", 60);
  EXPECT_EQ(slave.status, 0) << slave.err;
  EXPECT_THAT(slave.out, HasSubstr("beginning burn slave cpu"));

  const std::vector<std::vector<std::string>> runs = {
      {"--simulate", "--simulate-fault", "1:Answer-Delay-Ms=10", "open", "--link", "COM"},
      {"--simulate", "test", "--commands", "q1,btun,lf?", "--seconds", "0", "--link", "Com"},
      {"--records", dir.File("out"), "records", "list", "--result", "PASS"},
      {"--records", dir.File("out"), "records", "yield", "--by", "Day"}};
  for (const std::vector<std::string>& args : runs) {
    std::vector<std::string> argv{MORLANE_CLI, "--quiet"};
    argv.insert(argv.end(), args.begin(), args.end());
    test::ProcessResult result = RunProcess(argv, "", 30);
    EXPECT_EQ(result.status, 0) << args[args.size() - 2] << ": " << result.err;
  }
}

}  // namespace
}  // namespace morlane
