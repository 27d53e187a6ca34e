// Whole runs of morlane-cli with --events: every event of every run checked against the
// published schema by a real validator, and each run's stream, with times and paths taken
// out, compared with the one kept beside this file, so that a change in what the tool
// reports to programs is seen in review. MORLANE_UPDATE_GOLDEN=1 writes the kept streams
// anew instead.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>

#include "flash/test_image_maker.h"
#include "support/process.h"

namespace morlane {
namespace {

using test::ImageSection;
using test::RunProcess;
using test::TempDir;
using test::Words;
using ::testing::HasSubstr;

const std::string kEventsDir = std::string(MORLANE_SOURCE_DIR) + "/tests/e2e/events/";

// Every event the schema does not take, with why; empty when all are taken.
std::string SchemaFindings(const std::string& events) {
  test::ProcessResult check =
      RunProcess({"/usr/bin/python3", kEventsDir + "check_events.py",
                  std::string(MORLANE_SOURCE_DIR) + "/docs/events.schema.json", events});
  return check.status == 0 ? std::string() : check.out + check.err;
}

// The stream as kept: no times, the working folder and the port by name (in a line too),
// no start time.
std::string Normalised(const std::string& stream, const std::string& dir) {
  std::string text = std::regex_replace(stream, std::regex(R"("t":[0-9]+,)"), "");
  text = std::regex_replace(text, std::regex(R"("started":"[^"]*")"), R"("started":"STARTED")");
  text = std::regex_replace(text, std::regex(R"("port":"[^"]*")"), R"("port":"PORT")");
  text = std::regex_replace(text, std::regex("/dev/pts/[0-9]+"), "PORT");
  for (size_t at = text.find(dir); at != std::string::npos; at = text.find(dir, at)) {
    text.replace(at, dir.size(), "DIR");
  }
  return text;
}

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

struct StreamCase {
  std::string name;  // the kept stream is NAME.ndjson
  std::vector<std::string> args;
  std::string fault;  // a switch of simulated unit 1; empty for none
};

std::ostream& operator<<(std::ostream& out, const StreamCase& c) {
  return out << c.name;
}

class EventStreamE2e : public ::testing::TestWithParam<StreamCase> {
 protected:
  void SetUp() override {
    // Tiny images and MCU image: every frame costs the protocol's pace.
    dir.Write("Master.bin", test::MakeInverterImage({{0x2010, Words(3, 0x4000)}}));
    dir.Write("Slave.bin", test::MakeInverterImage({{0x0100, Words(2, 0x6000)}}));
    // The MCU's image only where it is sent: "Automatic" would take it for a CPU's.
    if (GetParam().name.rfind("mcu", 0) == 0) dir.Write("tmp.bin", std::vector<uint8_t>(150, 0x3C));
    // Refused inputs stand apart, so that "Automatic" finds only the two images.
    std::filesystem::create_directory(dir.File("refused"));
    dir.Write("refused/junk_master.bin", std::string("MZ not an image"));
    dir.Write("refused/counted.S19",
              "S00600004844521B\r\nS1070000010203046E\r\nS5030001FB\r\nS9030000FC\r\n");
  }
  TempDir dir;
};

TEST_P(EventStreamE2e, StreamIsValidAndAsKept) {
  const StreamCase& c = GetParam();
  std::vector<std::string> argv{MORLANE_CLI,
                                "--simulate",
                                "--quiet",
                                "--dir",
                                dir.Path(),
                                "--events",
                                dir.File("events.ndjson")};
  if (!c.fault.empty()) argv.insert(argv.end(), {"--simulate-fault", "1:" + c.fault});
  for (const std::string& arg : c.args) {
    argv.push_back(arg.rfind("DIR/", 0) == 0 ? dir.File(arg.substr(4)) : arg);
  }
  test::ProcessResult result = RunProcess(argv, "", 120);
  ASSERT_FALSE(result.timedOut);
  const std::string stream = ReadText(dir.File("events.ndjson"));
  EXPECT_EQ(SchemaFindings(dir.File("events.ndjson")), "");
  // The exit status the command returned is the stream's last word.
  EXPECT_THAT(stream, HasSubstr("\"exit\":" + std::to_string(result.status) + "}\n"));

  const std::string kept = kEventsDir + c.name + ".ndjson";
  const std::string normalised = Normalised(stream, dir.Path());
  if (std::getenv("MORLANE_UPDATE_GOLDEN")) {
    std::ofstream(kept, std::ios::binary) << normalised;
    return;
  }
  EXPECT_EQ(normalised, ReadText(kept)) << "the events of " << c.name << " changed; after "
                                        << "review run with MORLANE_UPDATE_GOLDEN=1";
}

// A clean run of each kind, and one run for each of the simulated unit's fault switches.
INSTANTIATE_TEST_SUITE_P(
    Runs, EventStreamE2e,
    ::testing::Values(
        StreamCase{"flash", {"flash", "DIR/Master.bin"}, ""},
        StreamCase{"verify", {"verify", "--auto"}, ""}, StreamCase{"send", {"send", "Q1"}, ""},
        StreamCase{"mcu_update", {"mcu-update"}, ""},
        StreamCase{"refused_image", {"flash", "DIR/refused/junk_master.bin"}, ""},
        StreamCase{"refused_s19", {"prepare", "DIR/refused/counted.S19", "--link", "none"}, ""},
        StreamCase{"silent", {"flash", "DIR/Master.bin"}, "silent"},
        StreamCase{"answer_delay", {"send", "Q1"}, "answer-delay-ms=300"},
        StreamCase{"reply_delay", {"flash", "DIR/Master.bin"}, "reply-delay-ms=20"},
        StreamCase{"no_selection_echo", {"auto"}, "no-selection-echo"},
        StreamCase{"no_autobaud_echo", {"flash", "DIR/Master.bin"}, "no-autobaud-echo"},
        StreamCase{"refuse_erase", {"flash", "DIR/Master.bin"}, "refuse-erase"},
        StreamCase{"drop_acks", {"flash", "DIR/Master.bin"}, "drop-acks-after=2"},
        StreamCase{"corrupt_result", {"flash", "DIR/Master.bin"}, "corrupt-result-frame=3"},
        StreamCase{"verify_mismatch", {"flash", "DIR/Master.bin"}, "verify-mismatch"},
        StreamCase{"line_gone", {"flash", "DIR/Master.bin"}, "line-gone-after=0"},
        StreamCase{"mcu_silent", {"mcu-update"}, "mcu-silent"},
        StreamCase{"mcu_top_bit", {"mcu-update"}, "mcu-top-bit"},
        StreamCase{"mcu_error", {"mcu-update"}, "mcu-error-after=1"},
        StreamCase{"mcu_size_07", {"mcu-update"}, "mcu-size-07"}),
    [](const ::testing::TestParamInfo<StreamCase>& run) { return run.param.name; });

// Units of a gang report at once into one file: every event names its unit, and each
// unit's run is framed by its own start and end, with the record's run id.
TEST(GangEventsE2e, EveryUnitReportsItsOwnRun) {
  TempDir dir;
  dir.Write("Master.bin", test::MakeInverterImage({{0x2010, Words(3, 0x4000)}}));
  test::ProcessResult result =
      RunProcess({MORLANE_CLI, "--simulate-units", "2", "--simulate-fault", "2:refuse-erase",
                  "--quiet", "--dir", dir.Path(), "--events", "-", "gang", "auto"},
                 "", 120);
  EXPECT_EQ(result.status, 1) << result.err;
  dir.Write("events.ndjson", result.out);
  EXPECT_EQ(SchemaFindings(dir.File("events.ndjson")), "");
  std::map<std::string, std::vector<std::string>> byUnit;
  std::regex unitAndType(R"re("type":"([a-z_]+)","unit":"([^"]+)")re");
  for (const std::string& line : test::SplitLines(result.out)) {
    std::smatch m;
    ASSERT_TRUE(std::regex_search(line, m, unitAndType)) << "no unit: " << line;
    byUnit[m[2]].push_back(m[1]);
  }
  ASSERT_EQ(byUnit.size(), 2u);
  for (const auto& [unit, types] : byUnit) {
    EXPECT_EQ(types.front(), "run_started") << unit;
    EXPECT_EQ(types.back(), "run_ended") << unit;
  }
  EXPECT_THAT(result.out, HasSubstr(R"("unit":"COM1","result":"pass")"));
  EXPECT_THAT(result.out, HasSubstr(R"("unit":"COM2","result":"fail","failed_step":"erase")"));
  EXPECT_THAT(
      result.out,
      HasSubstr(
          R"("unit":"COM2","step":"erase","cpu":"master","outcome":"fail","reason":"status")"));
}

}  // namespace
}  // namespace morlane
