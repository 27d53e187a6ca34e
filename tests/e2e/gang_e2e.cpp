// A production station: four units on pseudo-terminals programmed at once by one
// morlane-cli, one unit refusing the erase; each unit's flash, log and run record.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <regex>

#include "flash/test_image_maker.h"
#include "sim/sim_unit.h"
#include "support/process.h"

namespace morlane {
namespace {

using test::ImageSection;
using test::SimProcess;
using test::TempDir;
using test::Words;
using ::testing::HasSubstr;
using ::testing::Not;

// Tiny images: every frame costs the protocol's 200 ms.
const std::vector<ImageSection> kMaster = {{0x2010, Words(3, 0x4000)}, {0x9000, {0x0102}}};
const std::vector<ImageSection> kSlave = {{0x0100, Words(4, 0x6000)}};

uint32_t ProgrammedDigest(char cpu, const std::vector<ImageSection>& sections) {
  std::vector<uint16_t> flash((cpu == 'M' ? 10 : 4) * 0x2000, 0xFFFF);
  for (const auto& s : sections)
    std::copy(s.words.begin(), s.words.end(), flash.begin() + s.address);
  return sim::FlashDigest(flash);
}

// The digest a unit reports for a CPU on exit, 0 when it reports none.
uint32_t ReportedDigest(const std::string& report, char cpu) {
  std::smatch m;
  std::regex line(std::string("cpu ") + cpu + ": .* digest ([0-9a-f]{8}), 0 protocol errors");
  return std::regex_search(report, m, line) ? static_cast<uint32_t>(std::stoul(m[1], nullptr, 16))
                                            : 0;
}

std::string Text(const TempDir& dir, const std::string& name) {
  std::vector<uint8_t> bytes = dir.Read(name);
  return std::string(bytes.begin(), bytes.end());
}

TEST(GangE2e, FourUnitsOneRefusingTheErase) {
  TempDir dir;
  dir.Write("Master.bin", test::MakeInverterImage(kMaster));
  dir.Write("Slave.bin", test::MakeInverterImage(kSlave));
  std::vector<std::unique_ptr<SimProcess>> units;
  std::vector<std::string> argv{MORLANE_CLI};
  for (int n = 1; n <= 4; ++n) {
    std::vector<std::string> faults;
    if (n == 4) faults.push_back("--refuse-erase");
    units.push_back(std::make_unique<SimProcess>(MORLANE_UNIT_SIM, faults));
    ASSERT_TRUE(units.back()->Running());
    argv.insert(argv.end(), {"--port", units.back()->Path()});
  }
  argv.insert(argv.end(), {"--dir", dir.Path(), "--records", dir.File("out"), "gang", "auto"});
  test::ProcessResult result = test::RunProcess(argv, "", 90);
  std::vector<std::string> reports;
  for (auto& unit : units) reports.push_back(unit->Stop());

  EXPECT_EQ(result.status, 1) << result.err;
  for (int n = 1; n <= 3; ++n) {
    const std::string name = "COM" + std::to_string(n);
    EXPECT_EQ(ReportedDigest(reports[n - 1], 'M'), ProgrammedDigest('M', kMaster)) << name;
    EXPECT_EQ(ReportedDigest(reports[n - 1], 'S'), ProgrammedDigest('S', kSlave)) << name;
    std::string record = Text(dir, "out/" + name + ".json");
    EXPECT_THAT(record, HasSubstr("\"unit\": \"" + name + "\", \"port\": \"" +
                                  units[n - 1]->Path() + "\", \"procedure\": \"auto\""));
    EXPECT_THAT(record, HasSubstr("\"result\": \"pass\", \"images\": [{\"file\": \"" +
                                  dir.File("Master.bin") + "\", \"sha256\": \""));
    EXPECT_THAT(record, Not(HasSubstr("fail")));
    EXPECT_THAT(result.out, HasSubstr(name + ": Flash verified Successful!!\n"));
  }
  std::string failed = Text(dir, "out/COM4.json");
  EXPECT_THAT(failed, HasSubstr("\"result\": \"fail\", \"images\": ["));
  EXPECT_THAT(failed, HasSubstr("\"cpu\": \"master\", \"result\": \"fail\", \"step\": \"erase\""));
  EXPECT_THAT(Text(dir, "out/COM4.log"), HasSubstr("Flash Erased Fail!\n"));
  EXPECT_THAT(result.out, Not(HasSubstr("COM4: Flash verified Successful!!")));

  // A unit's log is what a single run on that port prints, byte for byte.
  SimProcess single(MORLANE_UNIT_SIM);
  test::ProcessResult alone =
      test::RunProcess({MORLANE_CLI, "--port", single.Path(), "--dir", dir.Path(), "auto"}, "", 60);
  EXPECT_EQ(alone.status, 0);
  EXPECT_EQ(Text(dir, "out/COM1.log"), alone.out);
}

}  // namespace
}  // namespace morlane
