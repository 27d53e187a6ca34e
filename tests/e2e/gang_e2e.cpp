// A production station: four units on pseudo-terminals programmed at once by one
// morlane-cli, one unit refusing the erase; each unit's flash, log and run record, kept in
// the station's store batch after batch, whatever stops the station.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <regex>
#include <thread>

#include <sqlite3.h>

#include "flash/test_image_maker.h"
#include "link/sha256.h"
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

// The store's runs as morlane-cli lists them: one whole record per line, newest first.
std::vector<std::string> Records(const std::string& folder) {
  test::ProcessResult list =
      test::RunProcess({MORLANE_CLI, "--records", folder, "records", "list", "--json"}, "", 30);
  EXPECT_EQ(list.status, 0) << list.err;
  return test::SplitLines(list.out);
}

// The record of the slot's newest run; "" when there is none.
std::string RecordOf(const std::vector<std::string>& records, const std::string& slot) {
  for (const std::string& record : records) {
    if (record.find("\"slot\": \"" + slot + "\"") != std::string::npos) return record;
  }
  return {};
}

std::string RunIdOf(const std::string& record) {
  std::smatch m;
  return std::regex_search(record, m, std::regex("\"run_id\": \"([A-Za-z0-9-]+)\""))
             ? std::string(m[1])
             : std::string();
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
  argv.insert(argv.end(), {"--dir", dir.Path(), "--records", dir.File("out"), "--unit-id",
                           "COM2=SN-0002", "--station", "line1-st3", "--operator", "Anna",
                           "--log-json", "lines.json", "gang", "auto"});
  test::ProcessResult result = test::RunProcess(argv, "", 90);
  std::vector<std::string> reports;
  for (auto& unit : units) reports.push_back(unit->Stop());

  EXPECT_EQ(result.status, 1) << result.err;
  std::vector<std::string> records = Records(dir.File("out"));
  ASSERT_EQ(records.size(), 4u);
  const std::string masterDigest = FileSha256(dir.File("Master.bin"));
  for (int n = 1; n <= 3; ++n) {
    const std::string name = "COM" + std::to_string(n);
    EXPECT_EQ(ReportedDigest(reports[n - 1], 'M'), ProgrammedDigest('M', kMaster)) << name;
    EXPECT_EQ(ReportedDigest(reports[n - 1], 'S'), ProgrammedDigest('S', kSlave)) << name;
    std::string record = RecordOf(records, name);
    EXPECT_THAT(record, HasSubstr("\"station\": \"line1-st3\", \"slot\": \"" + name +
                                  "\", \"port\": \"" + units[n - 1]->Path() + "\""));
    EXPECT_THAT(record, HasSubstr("\"operator\": \"Anna\", \"procedure\": \"auto\""));
    EXPECT_THAT(record,
                HasSubstr("\"result\": \"pass\", \"failed_step\": null, \"images\": [{"
                          "\"file\": \"" +
                          dir.File("Master.bin") + "\", \"sha256\": \"" + masterDigest + "\""));
    EXPECT_THAT(record, HasSubstr("\"closing\": \"answered\""));
    EXPECT_THAT(record, Not(HasSubstr("\"fail\"")));
    EXPECT_THAT(result.out, HasSubstr(name + ": Flash verified Successful!!\n"));
  }
  EXPECT_THAT(RecordOf(records, "COM2"), HasSubstr("\"unit_id\": \"SN-0002\""));
  EXPECT_THAT(RecordOf(records, "COM1"), HasSubstr("\"unit_id\": null"));
  std::string failed = RecordOf(records, "COM4");
  EXPECT_THAT(failed, HasSubstr("\"result\": \"fail\", \"failed_step\": \"erase\""));
  EXPECT_THAT(failed, HasSubstr("\"cpu\": \"master\", \"result\": \"fail\", \"step\": \"erase\""));
  EXPECT_THAT(result.out, Not(HasSubstr("COM4: Flash verified Successful!!")));
  // --log-json carries every line of every unit, prefixed as on stdout.
  EXPECT_THAT(Text(dir, "lines.json"), HasSubstr("\"COM4: Flash Erased Fail!\\n\"\n"));

  // A unit's log is what a single run on that port prints, byte for byte.
  SimProcess single(MORLANE_UNIT_SIM);
  test::ProcessResult alone =
      test::RunProcess({MORLANE_CLI, "--port", single.Path(), "--dir", dir.Path(), "auto"}, "", 60);
  EXPECT_EQ(alone.status, 0);
  test::ProcessResult shown =
      test::RunProcess({MORLANE_CLI, "--records", dir.File("out"), "records", "show",
                        RunIdOf(RecordOf(records, "COM1"))},
                       "", 30);
  EXPECT_EQ(shown.status, 0) << shown.err;
  EXPECT_EQ(shown.out, RecordOf(records, "COM1") + "\n" + alone.out);

  // The next batch into the same folder keeps every record of the first.
  test::ProcessResult next = test::RunProcess(
      {MORLANE_CLI, "--simulate-units", "1", "--dir", dir.Path(), "--records", dir.File("out"),
       "gang", "flash", dir.File("Master.bin"), "--cpu", "master"},
      "", 60);
  EXPECT_EQ(next.status, 0) << next.err;
  std::vector<std::string> after = Records(dir.File("out"));
  ASSERT_EQ(after.size(), 5u);
  EXPECT_THAT(after[0], HasSubstr("\"procedure\": \"flash\""));
  for (const std::string& record : records) EXPECT_THAT(after, ::testing::Contains(record));
}

// A folder that cannot take the records is found before any unit is touched.
TEST(GangE2e, RecordsThatCannotBeKeptStopTheStationBeforeItStarts) {
  TempDir dir;
  dir.Write("Master.bin", test::MakeInverterImage(kMaster));
  std::filesystem::create_directories(dir.File("out"));
  dir.Write("out/runs", std::string("a file where the runs folder should be"));
  SimProcess unit(MORLANE_UNIT_SIM);
  test::ProcessResult result =
      test::RunProcess({MORLANE_CLI, "--port", unit.Path(), "--dir", dir.Path(), "--records",
                        dir.File("out"), "gang", "auto"},
                       "", 30);
  EXPECT_EQ(result.status, 2);
  EXPECT_THAT(result.err, HasSubstr("records"));
  EXPECT_EQ(result.out, "");
  EXPECT_NE(ReportedDigest(unit.Stop(), 'M'), ProgrammedDigest('M', kMaster));
}

class GangInterruptE2e : public ::testing::Test {
 protected:
  GangInterruptE2e() {
    dir.Write("Master.bin", test::MakeInverterImage(kMaster));
    dir.Write("Slave.bin", test::MakeInverterImage(kSlave));
  }
  std::vector<std::string> Argv(std::vector<std::string> extra = {}) const {
    std::vector<std::string> argv{MORLANE_CLI, "--simulate-units", "2", "--dir", dir.Path(),
                                  "--records", dir.File("out")};
    argv.insert(argv.end(), extra.begin(), extra.end());
    argv.insert(argv.end(), {"gang", "auto"});
    return argv;
  }
  std::string Log(const std::string& record) const {
    return Text(dir, "out/runs/" + RunIdOf(record) + ".log");
  }
  TempDir dir;
};

// Once: the running CPUs finish and no other starts. A unit stopped so is "aborted"; a
// unit that had failed on its own stays "fail".
TEST_F(GangInterruptE2e, OnceFinishesTheRunningCpuAndStartsNoOther) {
  test::Background station(Argv({"--simulate-fault", "2:refuse-erase"}), dir);
  ASSERT_TRUE(station.WaitFor("stdout", "COM2: Flash Erased Fail!", 30));
  station.Interrupt();
  EXPECT_EQ(station.Wait(30), 1);
  std::vector<std::string> records = Records(dir.File("out"));
  ASSERT_EQ(records.size(), 2u);
  std::string stopped = RecordOf(records, "COM1");
  EXPECT_THAT(Log(stopped), HasSubstr("Flash verified Successful!!\n"));
  EXPECT_THAT(Log(stopped), Not(HasSubstr(dir.File("Slave.bin"))));
  EXPECT_THAT(stopped, HasSubstr("\"result\": \"aborted\", \"failed_step\": null"));
  EXPECT_THAT(stopped, HasSubstr("\"cpu\": \"master\", \"result\": \"pass\""));
  EXPECT_THAT(RecordOf(records, "COM2"),
              HasSubstr("\"result\": \"fail\", \"failed_step\": \"erase\""));
}

TEST_F(GangInterruptE2e, LiveViewOnATerminalEndsWithEachUnitsVerdict) {
  test::ProcessResult result = test::RunOnTerminal(Argv(), 60);
  EXPECT_EQ(result.status, 0) << result.out;
  EXPECT_TRUE(
      std::regex_search(result.out, std::regex("COM1 +/dev/pts/[0-9]+ .*\\[#+\\] 100 %  PASS")))
      << result.out;
  EXPECT_TRUE(std::regex_search(result.out, std::regex("COM2 +/dev/pts/[0-9]+ .*PASS")));
  EXPECT_THAT(result.out, HasSubstr("gang: 2 passed, 0 failed or stopped"));
  // A terminal that does not say its width is taken as 80 columns: no status line may be
  // wider, or it would wrap and the view would climb back the wrong number of rows.
  for (const std::string& line : test::SplitLines(result.out)) {
    const size_t drawn = line.rfind("\x1b[K");
    if (drawn == std::string::npos) continue;
    std::string shown = line.substr(drawn + 3);
    if (!shown.empty() && shown.back() == '\r') shown.pop_back();
    EXPECT_LT(shown.size(), 80u) << shown;
  }
}

// Twice, however quickly (a signal that comes while the first is still pending is one
// signal to the system, so the presses are 50 ms apart, far below the station's own pace):
// every unit stops now, within the waits of one exchange, and its record says which step
// was cut.
TEST_F(GangInterruptE2e, TwiceStopsEveryUnitNow) {
  test::Background station(Argv(), dir);
  ASSERT_TRUE(station.WaitFor("stdout", "COM2: Flash burning in...", 30));
  const auto pressed = std::chrono::steady_clock::now();
  station.Interrupt();
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  station.Interrupt();
  EXPECT_EQ(station.Wait(30), 1);
  EXPECT_LT(std::chrono::steady_clock::now() - pressed, std::chrono::seconds(5));
  std::vector<std::string> records = Records(dir.File("out"));
  ASSERT_EQ(records.size(), 2u);
  for (const char* name : {"COM1", "COM2"}) {
    std::string record = RecordOf(records, name);
    EXPECT_THAT(Log(record), Not(HasSubstr("Flash verified Successful!!")));
    EXPECT_THAT(Log(record), HasSubstr("Close Serial MCU OK!"));
    EXPECT_THAT(record, HasSubstr("\"result\": \"aborted\""));
    EXPECT_THAT(record, HasSubstr("\"cpu\": \"master\", \"result\": \"aborted\", \"step\": \""));
  }
}

// Twice while the units' bootloaders start: the handshake that the stop cuts short is said
// as a stop, not as a unit that does not answer, and is not tried again.
TEST_F(GangInterruptE2e, TwiceBeforeTheHandshakeIsLoggedAsAStop) {
  test::Background station(Argv(), dir);
  ASSERT_TRUE(station.WaitFor("stdout", "COM2: bin file OK", 30));
  station.Interrupt();
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  station.Interrupt();
  EXPECT_EQ(station.Wait(30), 1);
  std::vector<std::string> records = Records(dir.File("out"));
  ASSERT_EQ(records.size(), 2u);
  for (const char* name : {"COM1", "COM2"}) {
    const std::string log = Log(RecordOf(records, name));
    EXPECT_THAT(log, HasSubstr("Stopped before this CPU was reached: not programmed")) << log;
    EXPECT_THAT(log, Not(HasSubstr("Connected inverter Fail!")));
    EXPECT_THAT(log, Not(HasSubstr("the communicaton with inverter is fail")));
    EXPECT_THAT(RecordOf(records, name), HasSubstr("\"result\": \"aborted\""));
  }
}

// The terminal closed (the technician shut its window): nobody is left to press twice, so
// every unit stops now, and the records are kept before the station ends.
TEST_F(GangInterruptE2e, TerminalClosedStopsEveryUnitAndKeepsTheRecords) {
  test::Background station(Argv(), dir);
  ASSERT_TRUE(station.WaitFor("stdout", "COM2: Flash burning in...", 30));
  station.HangUp();
  EXPECT_EQ(station.Wait(30), 1);
  std::vector<std::string> records = Records(dir.File("out"));
  ASSERT_EQ(records.size(), 2u);
  for (const char* name : {"COM1", "COM2"}) {
    EXPECT_THAT(RecordOf(records, name), HasSubstr("\"result\": \"aborted\""));
  }
}

// Killed in the middle of a burn: the store is whole, every earlier run is in it, and no
// file of the killed run is left half-written.
TEST_F(GangInterruptE2e, KilledMidBurnLosesNoEarlierRun) {
  test::ProcessResult first = test::RunProcess(
      {MORLANE_CLI, "--simulate-units", "1", "--dir", dir.Path(), "--records", dir.File("out"),
       "gang", "flash", dir.File("Master.bin"), "--cpu", "master"},
      "", 60);
  ASSERT_EQ(first.status, 0) << first.err;
  {
    test::Background station(Argv(), dir);
    ASSERT_TRUE(station.WaitFor("stdout", "COM1: Flash burning in...", 30));
  }  // SIGKILL
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(dir.File("out/records.db").c_str(), &db), SQLITE_OK);
  sqlite3_stmt* check = nullptr;
  sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &check, nullptr);
  ASSERT_EQ(sqlite3_step(check), SQLITE_ROW);
  EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(check, 0)), "ok");
  sqlite3_finalize(check);
  sqlite3_close(db);
  std::vector<std::string> records = Records(dir.File("out"));
  ASSERT_EQ(records.size(), 1u);
  EXPECT_THAT(records[0], HasSubstr("\"procedure\": \"flash\""));
  EXPECT_EQ(Text(dir, "out/runs/" + RunIdOf(records[0]) + ".json"), records[0] + "\n");
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir.File("out/runs"))) {
    EXPECT_EQ(entry.path().filename().string().rfind(RunIdOf(records[0]) + ".", 0), 0u)
        << entry.path();
    ++files;
  }
  EXPECT_EQ(files, 2);
}

// A CPU is left as it is only with proof: the newest run of this unit on that CPU burned and
// verified the same bytes and passed, and a verify agrees now. Never without the unit's id,
// never for an image whose 16-bit sums match but whose words differ, never after a skip or a
// verify-only run, which prove nothing of the flash's words.
TEST(GangSkipE2e, OnlyAProvenCpuIsSkipped) {
  TempDir dir;
  for (const char* folder : {"a", "b", "c"}) std::filesystem::create_directory(dir.File(folder));
  dir.Write("a/Master.bin", test::MakeInverterImage({{0x2010, {0x1111, 0x2222, 0x3333}}}));
  // Two words swapped: the same sum for the unit's verify, another image.
  dir.Write("b/Master.bin", test::MakeInverterImage({{0x2010, {0x2222, 0x1111, 0x3333}}}));
  dir.Write("c/Master.bin", test::MakeInverterImage({{0x2010, {0x4444, 0x5555, 0x6666}}}));
  SimProcess sim(MORLANE_UNIT_SIM);
  ASSERT_TRUE(sim.Running());
  auto cli = [&](std::vector<std::string> args) {
    std::vector<std::string> argv{MORLANE_CLI, "--port", sim.Path(), "--quiet"};
    argv.insert(argv.end(), args.begin(), args.end());
    test::ProcessResult result = test::RunProcess(argv, "", 60);
    EXPECT_EQ(result.status, 0) << result.err;
  };
  auto run = [&](const std::string& images, bool withId) {
    std::vector<std::string> args{"--dir", dir.File(images), "--records", dir.File("out"),
                                  "--skip-identical"};
    if (withId) args.insert(args.end(), {"--unit-id", "COM1=SN7"});
    args.insert(args.end(), {"gang", "auto"});
    cli(args);
    const std::vector<std::string> records = Records(dir.File("out"));
    return records.empty() ? std::string() : records.front();
  };
  auto count = [](const std::string& text, const std::string& part) {
    int n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
  };
  EXPECT_THAT(run("a", true), HasSubstr("\"skipped\": false"));  // no record yet
  const std::string skipped = run("a", true);
  EXPECT_THAT(skipped, HasSubstr("\"skipped\": true"));
  EXPECT_THAT(skipped, HasSubstr("\"check\": "));
  EXPECT_THAT(run("a", false), HasSubstr("\"skipped\": false"));
  EXPECT_THAT(run("b", true), HasSubstr("\"skipped\": false"));
  // A verify of a passes against b's words and proves nothing.
  cli({"--records", dir.File("out"), "--unit-id", "COM1=SN7", "verify", dir.File("a/Master.bin")});
  EXPECT_THAT(run("a", true), HasSubstr("\"skipped\": false"));
  // Programmed behind the records' back: the check finds it and the CPU is programmed, each
  // step's time kept once.
  cli({"flash", dir.File("c/Master.bin")});
  const std::string checked = run("a", true);
  EXPECT_THAT(checked, HasSubstr("\"skipped\": false"));
  EXPECT_EQ(count(checked, "\"check\": "), 1) << checked;
  EXPECT_EQ(count(checked, "\"verify\": "), 1) << checked;
  const std::string report = sim.Stop();
  EXPECT_THAT(report, HasSubstr("cpu M: erased 6 times")) << report;
  EXPECT_THAT(report, HasSubstr("0 protocol errors")) << report;
}

}  // namespace
}  // namespace morlane
