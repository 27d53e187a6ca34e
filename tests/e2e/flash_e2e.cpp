// Whole runs of morlane-cli's flash, auto and inspect over a pseudo-terminal against
// morlane-unit-sim: the log lines, the exit status and what the CPUs' flash holds after.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <regex>

#include "flash/test_image_maker.h"
#include "sim/sim_unit.h"
#include "support/process.h"

namespace morlane {
namespace {

using test::ImageSection;
using test::RunProcess;
using test::SimProcess;
using test::TempDir;
using test::Words;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::EndsWith;
using ::testing::HasSubstr;
using ::testing::Not;

const std::string kLine36(36, '-');
const std::vector<std::string> kProgrammed = {"Connected inverter Sucessful!\n",
                                              "            \n",
                                              "Flash Erasing...\n",
                                              "Flash Erased Successful!\n",
                                              "            \n",
                                              "Flash burning in...\n",
                                              "Flash update firmware Successful!\n",
                                              "            \n",
                                              "Flash verified Successful!!\n",
                                              kLine36};

// Tiny images: every frame costs the protocol's 200 ms.
const std::vector<ImageSection> kMaster = {{0x2010, Words(3, 0x4000)}, {0x9000, {0x0102}}};
const std::vector<ImageSection> kSlave = {{0x0100, Words(4, 0x6000)}};

// The flash of a CPU as the unit reports it: erased, with these sections programmed, or
// untouched old firmware.
uint32_t DigestOf(char cpu, const std::vector<ImageSection>* sections) {
  size_t words = (cpu == 'M' ? 10 : 4) * 0x2000;
  std::vector<uint16_t> flash(words, sections ? 0xFFFF : 0x5A5A);
  if (sections) {
    for (const auto& s : *sections)
      std::copy(s.words.begin(), s.words.end(), flash.begin() + s.address);
  }
  return sim::FlashDigest(flash);
}

struct CpuReport {
  int erased = -1;
  int programFrames = -1;
  bool closed = false;
  uint32_t digest = 0;
  int errors = -1;
};

CpuReport ReportOf(const std::string& err, char cpu) {
  std::regex line(std::string("cpu ") + cpu +
                  ": erased ([0-9]+) times, ([0-9]+) program frames, closed (yes|no), digest "
                  "([0-9a-f]{8}), ([0-9]+) protocol errors");
  std::smatch m;
  CpuReport report;
  if (std::regex_search(err, m, line)) {
    report = {std::stoi(m[1]), std::stoi(m[2]), m[3] == "yes",
              static_cast<uint32_t>(std::stoul(m[4], nullptr, 16)), std::stoi(m[5])};
  }
  return report;
}

// The lines of --log-json, decoded: each is one JSON string.
std::vector<std::string> JsonLines(const TempDir& dir) {
  std::vector<uint8_t> bytes = dir.Read("log.json");
  std::vector<std::string> lines;
  for (const std::string& raw : test::SplitLines(std::string(bytes.begin(), bytes.end()))) {
    std::string text;
    for (size_t i = 1; i + 1 < raw.size(); ++i) {
      if (raw[i] != '\\') {
        text += raw[i];
        continue;
      }
      char e = raw[++i];
      text += e == 'n' ? '\n' : e == 'r' ? '\r' : e == 't' ? '\t' : e;
    }
    lines.push_back(text);
  }
  return lines;
}

class FlashE2e : public ::testing::Test {
 protected:
  void Images(bool master, bool slave) {
    if (master) dir.Write("Master.bin", test::MakeInverterImage(kMaster));
    if (slave) dir.Write("Slave.bin", test::MakeInverterImage(kSlave));
  }

  // morlane-cli against a fresh simulated unit with these fault switches; the unit's
  // report is in simReport afterwards.
  test::ProcessResult Run(const std::vector<std::string>& args,
                          const std::vector<std::string>& faults = {}) {
    SimProcess sim(MORLANE_UNIT_SIM, faults);
    EXPECT_TRUE(sim.Running());
    std::vector<std::string> argv{MORLANE_CLI, "--port",     sim.Path(),          "--dir",
                                  dir.Path(),  "--log-json", dir.File("log.json")};
    argv.insert(argv.end(), args.begin(), args.end());
    test::ProcessResult result = RunProcess(argv, "", 60);
    simReport = sim.Stop();
    lines = JsonLines(dir);
    return result;
  }

  // The log lines from the first one of a programming run on.
  std::vector<std::string> From(const std::string& first) const {
    auto at = std::find(lines.begin(), lines.end(), first);
    return std::vector<std::string>(at, lines.end());
  }

  TempDir dir;
  std::string simReport;
  std::vector<std::string> lines;
};

TEST_F(FlashE2e, MasterImageIsProgrammedOverThePseudoTerminal) {
  Images(true, false);
  // Options may follow the command.
  test::ProcessResult result = Run({"flash", dir.File("Master.bin"), "--quiet"});
  EXPECT_EQ(result.status, 0) << result.out << result.err;
  EXPECT_THAT(result.err, EndsWith("PASS\n"));
  std::vector<std::string> expected = {"The MCU firmware file name is", dir.File("Master.bin"),
                                       "beginning burn master cpu ...\n", kLine36};
  expected.insert(expected.end(), kProgrammed.begin(), kProgrammed.end());
  expected.insert(expected.end(), {"Close Serial MCU OK!", kLine36});
  EXPECT_EQ(From("The MCU firmware file name is"), expected);
  CpuReport master = ReportOf(simReport, 'M');
  EXPECT_EQ(master.erased, 1);
  EXPECT_EQ(master.programFrames, 2);
  EXPECT_TRUE(master.closed);
  EXPECT_EQ(master.errors, 0) << simReport;
  EXPECT_EQ(master.digest, DigestOf('M', &kMaster));
  EXPECT_EQ(ReportOf(simReport, 'S').digest, DigestOf('S', nullptr));
  // stdout carries the same lines, each with one more line feed.
  EXPECT_THAT(result.out, HasSubstr("Flash verified Successful!!\n\n"));
}

// On a terminal the progress bar and the log lines share the screen: the bar is taken
// away before each line and drawn again after it, never run together with a line.
TEST_F(FlashE2e, ProgressBarOnATerminalNeverRunsIntoALine) {
  Images(true, false);
  test::ProcessResult result = test::RunOnTerminal(
      {MORLANE_CLI, "--simulate", "--dir", dir.Path(), "flash", dir.File("Master.bin")}, 60);
  EXPECT_EQ(result.status, 0) << result.out;
  ASSERT_THAT(result.out, HasSubstr("] 100 %"));
  for (size_t at = result.out.find('%'); at != std::string::npos;
       at = result.out.find('%', at + 1)) {
    ASSERT_LT(at + 1, result.out.size());
    EXPECT_EQ(result.out[at + 1], '\r') << result.out.substr(at > 40 ? at - 40 : 0, 80);
  }
  // The bar is cleared at the end, and the verdict is the last word.
  EXPECT_THAT(result.out, EndsWith(std::string(28, ' ') + "\rPASS\r\n"));
}

TEST_F(FlashE2e, CpuOptionSendsAnyImageToTheSlave) {
  dir.Write("image.bin", test::MakeInverterImage(kSlave));
  test::ProcessResult result = Run({"flash", dir.File("image.bin"), "--cpu", "slave"});
  EXPECT_EQ(result.status, 0) << result.out << result.err;
  CpuReport slave = ReportOf(simReport, 'S');
  EXPECT_EQ(slave.errors, 0) << simReport;
  EXPECT_EQ(slave.digest, DigestOf('S', &kSlave));
  EXPECT_EQ(ReportOf(simReport, 'M').erased, 0);
}

TEST_F(FlashE2e, AutomaticProgramsBothCpus) {
  Images(true, true);
  test::ProcessResult result = Run({"auto"});
  EXPECT_EQ(result.status, 0) << result.out << result.err;
  std::vector<std::string> expected;
  for (const char* name : {"Master.bin", "Slave.bin"}) {
    expected.insert(expected.end(),
                    {"The MCU firmware file name is", dir.File(name), "bin file OK"});
    expected.insert(expected.end(), kProgrammed.begin(), kProgrammed.end());
  }
  expected.insert(expected.end(),
                  {"File flash burn Successful!\n", "Close Serial MCU OK!", kLine36});
  EXPECT_EQ(From("The MCU firmware file name is"), expected);
  EXPECT_EQ(ReportOf(simReport, 'M').digest, DigestOf('M', &kMaster));
  EXPECT_EQ(ReportOf(simReport, 'S').digest, DigestOf('S', &kSlave));
  EXPECT_EQ(ReportOf(simReport, 'M').errors + ReportOf(simReport, 'S').errors, 0) << simReport;
}

// Each fault ends the run with its lines, the port closed ("Close" then only reports the
// session's end) and exit status 1.
struct FaultCase {
  std::vector<std::string> switches;
  std::vector<std::string> lines;  // in this order among the log lines
  bool masterErased;
  std::string verdict;  // the last line on stderr
};

class FlashFaultE2e : public FlashE2e, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(FlashFaultE2e, RunFailsWithItsLogLines) {
  Images(true, false);
  test::ProcessResult result = Run({"flash", dir.File("Master.bin")}, GetParam().switches);
  EXPECT_EQ(result.status, 1) << result.out;
  std::vector<std::string> run = From("beginning burn master cpu ...\n");
  auto at = run.begin();
  for (const std::string& line : GetParam().lines) {
    at = std::find(at, run.end(), line);
    EXPECT_NE(at, run.end()) << "missing or out of order: " << line;
  }
  EXPECT_THAT(run, Not(Contains("Flash verified Successful!!\n")));
  EXPECT_EQ(ReportOf(simReport, 'M').erased, GetParam().masterErased ? 1 : 0) << simReport;
  EXPECT_THAT(result.err, EndsWith(GetParam().verdict));
}

INSTANTIATE_TEST_SUITE_P(
    Faults, FlashFaultE2e,
    ::testing::Values(
        FaultCase{{"--no-autobaud-echo"},
                  {"Connected inverter Fail!\n",
                   "the communicaton with inverter is fail,please check it!", kLine36},
                  false,
                  "FAIL: connect: no answer to the handshake\n"},
        FaultCase{{"--refuse-erase"},
                  {"Flash Erasing...\n", "Flash Erased Fail!\n", kLine36},
                  false,
                  "FAIL: erase: erase refused\n"},
        FaultCase{{"--drop-acks-after", "2"},
                  {"Flash burning in...\n", "Bruned failure\n", kLine36},
                  true,
                  "FAIL: burn: program command not acknowledged\n"},
        FaultCase{{"--line-gone-after", "0"},
                  {"Flash burning in...\n", "Bruned failure\n", kLine36},
                  true,
                  "FAIL: burn: the port went away\n"},
        FaultCase{{"--verify-mismatch"},
                  {"Flash update firmware Successful!\n", "Flash verified fail!\n", kLine36},
                  true,
                  "FAIL: verify: flash differs from the image\n"},
        // Erase, two program frames, then the first verify's result is garbled.
        FaultCase{{"--corrupt-result-frame", "4"},
                  {"Flash verified fail!\n", kLine36},
                  true,
                  "FAIL: verify: flash differs from the image\n"}));

// The unit pulled in the middle of the master's burn: one line after the dialog's own names
// the port as given, the slave is not tried, and the run is kept as failed at the burn.
TEST_F(FlashE2e, PortGoneMidBurnEndsTheRunAtTheBurn) {
  Images(true, true);
  test::ProcessResult result =
      Run({"--records", dir.File("out"), "auto"}, {"--line-gone-after", "1"});
  EXPECT_EQ(result.status, 1) << result.out;
  auto burnFailed = std::find(lines.begin(), lines.end(), "Bruned failure\n");
  ASSERT_NE(burnFailed, lines.end());
  ASSERT_NE(burnFailed + 1, lines.end());
  EXPECT_TRUE(std::regex_match(
      *(burnFailed + 1),
      std::regex("the port /dev/pts/[0-9]+ went away: is the cable or adapter unplugged\\?")))
      << *(burnFailed + 1);
  EXPECT_THAT(lines, Not(Contains(dir.File("Slave.bin"))));
  EXPECT_EQ(ReportOf(simReport, 'S').erased, 0);
  EXPECT_THAT(result.err, EndsWith("FAIL: burn: Master.bin: the port went away\n"));

  test::ProcessResult kept =
      RunProcess({MORLANE_CLI, "--records", dir.File("out"), "records", "list", "--json"}, "", 30);
  ASSERT_EQ(kept.status, 0) << kept.err;
  EXPECT_THAT(kept.out, HasSubstr("\"result\": \"fail\", \"failed_step\": \"burn\""));
  EXPECT_THAT(kept.out, Not(HasSubstr("Slave.bin")));
}

TEST_F(FlashE2e, SilentSlaveSelectionStopsTheAutomaticUpdate) {
  Images(false, true);
  test::ProcessResult result = Run({"auto"}, {"--no-selection-echo"});
  EXPECT_EQ(result.status, 1);
  EXPECT_THAT(lines, Contains("the communicaton with inverter is fail,please check it!"));
  EXPECT_THAT(lines, Not(Contains("Connected inverter Sucessful!\n")));
  EXPECT_EQ(ReportOf(simReport, 'S').erased, 0);
}

TEST_F(FlashE2e, RefusedFilesSendNothing) {
  // Not an inverter image: the dialog says nothing, the command line does.
  dir.Write("master.bin", std::string("PK\3\4 not an image"));
  test::ProcessResult result = Run({"flash", dir.File("master.bin")});
  EXPECT_EQ(result.status, 1);
  EXPECT_THAT(result.err, HasSubstr("is not an inverter image"));
  EXPECT_THAT(lines, Not(Contains("Connected inverter Sucessful!\n")));
  EXPECT_EQ(ReportOf(simReport, 'M').erased, 0);

  // A section table that runs past the end of the file.
  std::vector<uint8_t> broken = test::MakeInverterImage(kMaster, false);
  broken.resize(broken.size() - 1);
  dir.Write("master.bin", broken);
  result = Run({"flash", dir.File("master.bin")});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(
      From("Bin file is error!\n"),
      (std::vector<std::string>{"Bin file is error!\n", kLine36, "Close Serial MCU OK!", kLine36}));
  EXPECT_EQ(ReportOf(simReport, 'M').digest, DigestOf('M', nullptr));
  EXPECT_THAT(simReport, Not(HasSubstr("refused")));

  // No image in the directory at all.
  std::remove(dir.File("master.bin").c_str());
  result = Run({"auto"});
  EXPECT_EQ(result.status, 1);
  EXPECT_THAT(lines, Contains("there are not the bin file,please check your software \n"));
  EXPECT_THAT(lines, Contains("install directory!\n"));
}

// A check of what the CPUs hold, run after run on one unit: it passes only where the flash
// holds the image, and no erase or program frame ever reaches the unit.
TEST_F(FlashE2e, VerifyChecksWithoutProgramming) {
  Images(true, true);
  TempDir elsewhere;  // not among the images "auto" takes
  elsewhere.Write("other_master.bin", test::MakeInverterImage({{0x2010, Words(3, 0x7000)}}));
  SimProcess sim(MORLANE_UNIT_SIM);
  ASSERT_TRUE(sim.Running());
  auto cli = [&](std::vector<std::string> args) {
    args.insert(args.begin(), {MORLANE_CLI, "--port", sim.Path(), "--dir", dir.Path()});
    return RunProcess(args, "", 60);
  };

  test::ProcessResult blank = cli({"verify", dir.File("Master.bin")});
  EXPECT_EQ(blank.status, 1) << blank.out;
  EXPECT_THAT(blank.out, HasSubstr("Flash verified fail!\n"));
  EXPECT_THAT(blank.err, EndsWith("FAIL: verify: flash differs from the image\n"));
  ASSERT_EQ(cli({"auto"}).status, 0);

  // Kept as a run of its own, as a station's are.
  test::ProcessResult both = cli({"--records", dir.File("out"), "verify", "--auto"});
  EXPECT_EQ(both.status, 0) << both.out << both.err;
  test::ProcessResult kept =
      RunProcess({MORLANE_CLI, "--records", dir.File("out"), "records", "list", "--json"});
  EXPECT_THAT(kept.out, HasSubstr(R"("procedure": "verify")"));
  EXPECT_THAT(kept.out, HasSubstr(R"("result": "pass", "failed_step": null)"));
  std::vector<std::string> lines = test::SplitLines(both.out);
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "Flash verified Successful!!"), 2);
  EXPECT_THAT(both.out, Not(HasSubstr("Flash Erasing")));
  EXPECT_THAT(both.out, Not(HasSubstr("File flash burn")));
  EXPECT_THAT(both.err, EndsWith("PASS\n"));

  test::ProcessResult other = cli({"verify", elsewhere.File("other_master.bin")});
  EXPECT_EQ(other.status, 1);
  EXPECT_EQ(cli({"verify"}).status, 2);
  EXPECT_EQ(cli({"verify", dir.File("Master.bin"), "--auto"}).status, 2);

  // Erased and programmed by "auto" alone; every verify opened its session cleanly.
  const std::string report = sim.Stop();
  for (char cpu : {'M', 'S'}) {
    CpuReport unit = ReportOf(report, cpu);
    EXPECT_EQ(unit.erased, 1) << report;
    EXPECT_EQ(unit.errors, 0) << report;
  }
  EXPECT_EQ(ReportOf(report, 'M').digest, DigestOf('M', &kMaster));
}

TEST(FlashCliE2e, UsageErrorsAndInspect) {
  TempDir dir;
  test::ProcessResult result = RunProcess({MORLANE_CLI, "flash", dir.File("missing.bin")});
  EXPECT_EQ(result.status, 2);
  EXPECT_THAT(result.err, HasSubstr("cannot read"));
  EXPECT_EQ(RunProcess({MORLANE_CLI, "flash", dir.File("x.bin"), "--cpu", "third"}).status, 2);

  // A path that names no CPU, or both, would leave the CPU to chance: nothing is opened.
  dir.Write("fw_v2.bin", test::MakeInverterImage({{0x10, Words(3)}}));
  result = RunProcess({MORLANE_CLI, "--simulate", "flash", dir.File("fw_v2.bin")});
  EXPECT_EQ(result.status, 2);
  EXPECT_THAT(result.err, HasSubstr("names no CPU in its path"));
  EXPECT_THAT(result.err, HasSubstr("--cpu master or --cpu slave"));
  EXPECT_EQ(result.out, "");
  dir.Write("master_to_slave.bin", test::MakeInverterImage({{0x10, Words(3)}}));
  result = RunProcess({MORLANE_CLI, "--simulate", "flash", dir.File("master_to_slave.bin")});
  EXPECT_EQ(result.status, 2);
  EXPECT_THAT(result.err, HasSubstr("names more than one CPU"));

  // A mistyped command is answered with the one meant.
  result = RunProcess({MORLANE_CLI, "fash", dir.File("fw_v2.bin")});
  EXPECT_EQ(result.status, 2);
  EXPECT_EQ(result.err, "morlane-cli: unknown command \"fash\"; did you mean \"flash\"?\n");
  result = RunProcess({MORLANE_CLI, "--records", dir.Path(), "records", "lsit"});
  EXPECT_THAT(result.err, HasSubstr("did you mean \"list\"?"));

  // An open port is not a unit: --probe asks it.
  EXPECT_EQ(RunProcess({MORLANE_CLI, "--simulate", "--simulate-fault", "1:silent", "open"}).status,
            0);
  result =
      RunProcess({MORLANE_CLI, "--simulate", "--simulate-fault", "1:silent", "open", "--probe"});
  EXPECT_EQ(result.status, 1);
  EXPECT_THAT(result.err, EndsWith("FAIL: probe: the unit did not answer Q1\n"));
  result = RunProcess({MORLANE_CLI, "--simulate", "open", "--probe"});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_THAT(result.err, EndsWith("PASS\n"));

  dir.Write("m.bin", test::MakeInverterImage({{0x10, Words(3)}, {0x2000, {}}}));
  result = RunProcess({MORLANE_CLI, "inspect", dir.File("m.bin")});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_THAT(result.out, HasSubstr("inverter image, 42 bytes, 2 sections"));
  EXPECT_THAT(result.out, HasSubstr("      1    0x00000010      3  28..34\n"));
  EXPECT_THAT(result.out, HasSubstr("      2    0x00002000      0  40..40\n"));

  dir.Write("n.bin", std::string("hello"));
  result = RunProcess({MORLANE_CLI, "inspect", dir.File("n.bin")});
  EXPECT_EQ(result.status, 1);
  EXPECT_THAT(result.out, HasSubstr("not an inverter image"));
  EXPECT_EQ(RunProcess({MORLANE_CLI, "inspect", dir.File("none.bin")}).status, 2);
}

}  // namespace
}  // namespace morlane
