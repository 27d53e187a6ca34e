// A production station run as an operator runs it: morlane-cli station in the background,
// labels scanned on its standard input, units put into their fixtures and taken out, Ctrl-C
// pressed; its lines, records and events read after each.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sched.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <regex>
#include <thread>

#include "flash/test_image_maker.h"
#include "link/sha256.h"
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
const std::vector<ImageSection> kStationMaster = {{0x2010, Words(3, 0x4000)}};
const std::vector<ImageSection> kStationSlave = {{0x0100, Words(2, 0x6000)}};

class StationE2e : public ::testing::Test {
 protected:
  StationE2e() {
    dir.Write("master.bin", test::MakeInverterImage(kStationMaster));
    dir.Write("slave.bin", test::MakeInverterImage(kStationSlave));
  }

  // The profile, with the images' digests as they are now, and one slot per port.
  void WriteProfile(const std::string& start, const std::vector<std::string>& ports,
                    const std::string& extra = "") {
    std::string text =
        "station = \"line1-st3\"\nprocedure = \"auto\"\nimages = [ { file = "
        "\"master.bin\", sha256 = \"" +
        FileSha256(dir.File("master.bin")) + "\" }, { file = \"slave.bin\", sha256 = \"" +
        FileSha256(dir.File("slave.bin")) + "\" } ]\nrecords = \"out\"\nstart = \"" + start +
        "\"\n" + extra;
    for (size_t i = 0; i < ports.size(); ++i) {
      text += "[[slot]]\nname = \"" + std::string(1, static_cast<char>('A' + i)) + "\"\nport = \"" +
              ports[i] + "\"\n";
    }
    dir.Write("line1.toml", text);
  }

  std::vector<std::string> Argv(std::vector<std::string> global = {}) const {
    std::vector<std::string> argv{MORLANE_CLI};
    argv.insert(argv.end(), global.begin(), global.end());
    argv.insert(argv.end(), {"--events", dir.File("events.ndjson"), "station", "--profile",
                             dir.File("line1.toml")});
    return argv;
  }

  std::vector<std::string> Records() const {
    test::ProcessResult list = test::RunProcess(
        {MORLANE_CLI, "--records", dir.File("out"), "records", "list", "--json"}, "", 30);
    EXPECT_EQ(list.status, 0) << list.err;
    return test::SplitLines(list.out);
  }

  TempDir dir;
};

int Count(const std::string& text, const std::string& what) {
  int count = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++count;
  return count;
}

// Three fixtures: a unit passes, one refuses its erase, one never answers its handshake and
// is tried again once. A scan for a busy slot is refused; Ctrl-C lets the running unit end.
TEST_F(StationE2e, ScannedUnitsRunOnTheirSlotsAndEachIsRecordedOnce) {
  WriteProfile("scan", {"/dev/ttyS0", "/dev/ttyS1", "/dev/ttyS2"},
               "require_unit_id = true\nretries = 1\n");
  test::Background station(
      Argv({"--simulate-units", "3", "--simulate-fault", "2:refuse-erase", "--simulate-fault",
            "3:no-autobaud-echo", "--log-json", dir.File("lines.json")}),
      dir);
  station.Type("SN1");
  ASSERT_TRUE(station.WaitFor("stdout", "A SN1 started\n", 10)) << station.Text("stderr");
  // A second station on the same records folder would take these ports and units; refused
  // before it writes anything, so the events file both name stays the first's.
  test::ProcessResult second = test::RunProcess(Argv({"--simulate-units", "3"}), "", 30);
  EXPECT_EQ(second.status, 2);
  EXPECT_THAT(second.err, HasSubstr("another station runs on the records folder"));
  EXPECT_THAT(second.err, HasSubstr("(process "));
  station.Type("A SN9");  // A is busy
  // A scanner gone wrong: the line is kept only as far as any scan goes, and refused.
  station.Type(std::string(100000, '7'));
  // A label that would retitle and clear the operator's terminal: refused, never echoed.
  station.Type("SN\x1b]0;PWNED\x07\x1b[2J");
  station.Type("B SN2");
  station.Type("C SN3");
  ASSERT_TRUE(station.WaitFor("stdout", "B SN2 FAIL erase", 60)) << station.Text("stderr");
  ASSERT_TRUE(station.WaitFor("stdout", "C SN3 FAIL connect", 60)) << station.Text("stderr");
  ASSERT_TRUE(station.WaitFor("stdout", "A SN1 PASS", 60)) << station.Text("stderr");
  station.Type("B SN4");
  ASSERT_TRUE(station.WaitFor("stdout", "B SN4 started\n", 10));
  station.Interrupt();
  EXPECT_EQ(station.Wait(60), 1);
  station.Type("SN5");  // too late: nobody reads any more
  EXPECT_THAT(station.Text("stderr"), HasSubstr("Stopping: the running units finish first\n"));

  const std::string out = station.Text("stdout");
  EXPECT_TRUE(std::regex_search(out, std::regex("A SN1 PASS [0-9]+\\.[0-9] s\n"))) << out;
  EXPECT_TRUE(std::regex_search(out, std::regex("B SN4 FAIL erase [0-9]+\\.[0-9] s\n"))) << out;
  EXPECT_THAT(out, Not(HasSubstr("SN9")));
  EXPECT_THAT(out, Not(HasSubstr("SN5")));
  EXPECT_THAT(station.Text("stderr"), HasSubstr("slot A is busy with SN1: SN9 not started"));
  EXPECT_THAT(station.Text("stderr"), HasSubstr("a label of 1024 characters is no unit id"));
  EXPECT_THAT(station.Text("stderr"), HasSubstr("a unit id with control characters: not started"));
  EXPECT_THAT(station.Text("stderr") + out, Not(HasSubstr("\x1b")));
  // Each CPU of the unit that never answered was tried once more, and no more.
  EXPECT_EQ(Count(station.Text("lines.json"), "\"C: Handshake failed, trying again (1 of 1)\""), 2);

  const std::vector<std::string> records = Records();
  ASSERT_EQ(records.size(), 4u);
  const std::string profileDigest = FileSha256(dir.File("line1.toml"));
  for (const std::string& record : records) {
    EXPECT_THAT(record, HasSubstr("\"profile\": \"" + profileDigest + "\""));
    EXPECT_THAT(record, HasSubstr("\"station\": \"line1-st3\""));
  }
  // Each image as the profile names it.
  EXPECT_THAT(records.front(), HasSubstr("\"images\": [{\"file\": \"master.bin\", "));
  EXPECT_THAT(records, ::testing::Contains(HasSubstr("\"slot\": \"A\", \"port\": \"/dev/pts/")));
  EXPECT_EQ(Count(records.front() + records[1] + records[2] + records[3], "\"unit_id\": \"SN"), 4);

  // Every event names its slot and is one the schema takes; each unit's run is framed by
  // its own start and end.
  test::ProcessResult schema = test::RunProcess(
      {"/usr/bin/python3", std::string(MORLANE_SOURCE_DIR) + "/tests/e2e/events/check_events.py",
       std::string(MORLANE_SOURCE_DIR) + "/docs/events.schema.json", dir.File("events.ndjson")});
  EXPECT_EQ(schema.status, 0) << schema.out << schema.err;
  const std::string events = station.Text("events.ndjson");
  EXPECT_EQ(Count(events, "\"type\":\"run_started\""), 4);
  EXPECT_EQ(Count(events, "\"type\":\"run_ended\""), 4);
  EXPECT_EQ(Count(events, "\"command\":\"station auto\""), 4);
  for (const std::string& line : test::SplitLines(events)) {
    EXPECT_TRUE(std::regex_search(line, std::regex("\"unit\":\"[ABC]\""))) << line;
  }
}

// The line's rules in the profile: a label not of the line's pattern and a unit that passed
// here before are refused, the operator's badge names the operator of the runs after it, and
// a unit that failed its erase is followed by what to do with it.
TEST_F(StationE2e, TheProfilesRulesRefuseBadScansAndSayWhatToDo) {
  WriteProfile("scan", {"/dev/ttyS0", "/dev/ttyS1"},
               "unit_id_pattern = \"SN-[0-9]+\"\nrescan = \"refuse\"\noperator_prefix = "
               "\"OP:\"\n[instructions]\nerase = \"Put the unit on the rework shelf\"\n");
  test::Background station(Argv({"--simulate-units", "2", "--simulate-fault", "2:refuse-erase"}),
                           dir);
  station.Type("sn-1");
  station.Type("OP:Anna");
  ASSERT_TRUE(station.WaitFor("stderr", "operator: Anna", 10)) << station.Text("stderr");
  station.Type("A SN-1");
  ASSERT_TRUE(station.WaitFor("stdout", "A SN-1 PASS", 60)) << station.Text("stderr");
  station.Type("SN-1");
  station.Type("B SN-2");
  ASSERT_TRUE(station.WaitFor("stdout", "B SN-2 do: ", 60)) << station.Text("stderr");
  station.EndInput();
  EXPECT_EQ(station.Wait(30), 1);

  const std::string out = station.Text("stdout");
  EXPECT_TRUE(std::regex_search(
      out,
      std::regex("B SN-2 FAIL erase [0-9.]+ s\nB SN-2 do: Put the unit on the rework shelf\n")))
      << out;
  EXPECT_EQ(Count(out, "started"), 2) << out;
  const std::string err = station.Text("stderr");
  EXPECT_THAT(err, HasSubstr("sn-1 does not match unit_id_pattern \"SN-[0-9]+\": not started"));
  EXPECT_THAT(err, HasSubstr("SN-1 passed here before ("));
  const std::vector<std::string> records = Records();
  ASSERT_EQ(records.size(), 2u);
  for (const std::string& record : records) {
    EXPECT_THAT(record, HasSubstr("\"operator\": \"Anna\""));
  }
}

// A reader of the station's lines that goes away (| head -n 1) ends the printing, not the
// unit in the middle of its burn: it finishes, is kept, and the status is the run's.
TEST_F(StationE2e, AClosedStdoutLetsTheRunningUnitFinish) {
  WriteProfile("scan", {"/dev/ttyS0"});
  std::string command = "printf 'SN1\\n' |";
  for (const std::string& word : Argv({"--simulate-units", "1"})) command += " '" + word + "'";
  command += " | head -n 1; exit ${PIPESTATUS[1]}";
  // The tests ignore SIGPIPE themselves, and an ignored signal is inherited: the pipe's
  // programs get the system's default back, as from an operator's shell.
  test::ProcessResult piped = test::RunProcess(
      {"/usr/bin/env", "--default-signal=PIPE", "/bin/bash", "-c", command}, "", 60);
  EXPECT_EQ(piped.status, 0) << piped.err;
  EXPECT_EQ(piped.out, "A SN1 started\n");
  EXPECT_THAT(piped.err, HasSubstr("standard output was closed"));
  const std::vector<std::string> records = Records();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_THAT(records[0], HasSubstr("\"result\": \"pass\""));
}

// A line engineer's new profile: written from the images and slots given, started as it
// stands, and never written over.
TEST_F(StationE2e, AProfileWrittenByInitRunsAsItStands) {
  const std::vector<std::string> init{MORLANE_CLI, "--dir",         dir.Path(),    "station",
                                      "--init",    "st/line1.toml", "--images",    "master.bin",
                                      "slave.bin", "--slot",        "A=/dev/ttyS0"};
  std::filesystem::create_directory(dir.File("st"));
  test::ProcessResult written = test::RunProcess(init, "", 30);
  ASSERT_EQ(written.status, 0) << written.err;
  auto profileText = [this] {
    const std::vector<uint8_t> bytes = dir.Read("st/line1.toml");
    return std::string(bytes.begin(), bytes.end());
  };
  const std::string text = profileText();
  EXPECT_THAT(text, HasSubstr("{ file = \"../master.bin\", sha256 = \"" +
                              FileSha256(dir.File("master.bin")) + "\" }"));
  EXPECT_EQ(test::RunProcess(init, "", 30).status, 2);  // never over a file
  EXPECT_EQ(profileText(), text);

  test::ProcessResult shift = test::RunProcess(
      {MORLANE_CLI, "--simulate-units", "1", "station", "--profile", dir.File("st/line1.toml")}, "",
      60, "SN1\n");
  EXPECT_EQ(shift.status, 0) << shift.err;
  EXPECT_THAT(shift.out, HasSubstr("A SN1 PASS"));
}

// An image that is not the approved one: at the start nothing starts; swapped in while the
// station runs, the unit fails at step "image" and its port is never opened.
TEST_F(StationE2e, AnImageThatIsNotTheApprovedOneIsNeverSent) {
  SimProcess unit(MORLANE_UNIT_SIM);
  ASSERT_TRUE(unit.Running());
  WriteProfile("scan", {unit.Path()});
  const std::vector<uint8_t> approved = dir.Read("slave.bin");
  dir.Write("slave.bin", test::MakeInverterImage({{0x0100, Words(2, 0x6001)}}));
  test::ProcessResult refused = test::RunProcess(Argv(), "", 30);
  EXPECT_EQ(refused.status, 2);
  EXPECT_THAT(refused.err, HasSubstr("the station does not start: " + dir.File("slave.bin") +
                                     ": its SHA-256 is "));
  EXPECT_EQ(refused.out, "");

  dir.Write("slave.bin", approved);
  test::Background station(Argv(), dir);
  ASSERT_TRUE(station.WaitFor("stderr", "scan UNIT_ID", 10)) << station.Text("stderr");
  dir.Write("slave.bin", test::MakeInverterImage({{0x0100, Words(2, 0x6001)}}));
  station.Type("SN1");
  ASSERT_TRUE(station.WaitFor("stdout", "A SN1 FAIL image", 20)) << station.Text("stderr");
  // The file changed under the station: its fault, not the next unit's.
  station.Type("SN2");
  ASSERT_TRUE(station.WaitFor("stderr", "SN2 not started", 20)) << station.Text("stderr");
  station.EndInput();
  EXPECT_EQ(station.Wait(20), 1);
  EXPECT_THAT(station.Text("stderr"), HasSubstr("station fault: an approved image changed: " +
                                                dir.File("slave.bin") + ": its SHA-256 is "));
  EXPECT_THAT(unit.Stop(), HasSubstr("cpu M: erased 0 times, 0 program frames"));
  const std::vector<std::string> records = Records();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_THAT(records[0], HasSubstr("\"result\": \"fail\", \"failed_step\": \"image\""));
  EXPECT_THAT(station.Text("events.ndjson"),
              HasSubstr("\"type\":\"refused\",\"unit\":\"A\",\"file\":\"" + dir.File("slave.bin") +
                        "\",\"reason\":\"not-approved\""));
}

// The records folder stops taking runs while a unit runs: the unit's run goes to the
// fallback folder, the station starts no unit after it and ends with 1; the runs are taken
// back into the store once, however often they are imported.
TEST_F(StationE2e, RecordsThatCannotBeKeptStopTheStationAndAreImportedOnce) {
  WriteProfile("scan", {"/dev/ttyS0", "/dev/ttyS1"});
  std::vector<std::string> argv{"/usr/bin/env", "XDG_STATE_HOME=" + dir.File("state")};
  for (const std::string& word : Argv({"--simulate-units", "2"})) argv.push_back(word);
  test::Background station(argv, dir);
  station.Type("SN1");
  ASSERT_TRUE(station.WaitFor("stdout", "A SN1 started\n", 10)) << station.Text("stderr");
  // The runs' folder becomes a file: nothing more can be written into it.
  std::filesystem::rename(dir.File("out/runs"), dir.File("out/runs.kept"));
  dir.Write("out/runs", std::string("not a folder"));
  ASSERT_TRUE(station.WaitFor("stdout", "A SN1 FAIL record", 60)) << station.Text("stderr");
  station.Type("SN2");
  ASSERT_TRUE(station.WaitFor("stderr", "SN2 not started", 10)) << station.Text("stderr");
  station.EndInput();
  EXPECT_EQ(station.Wait(20), 1);
  const std::string unkept = dir.File("state/morlane/unkept");
  const std::string err = station.Text("stderr");
  EXPECT_THAT(err, HasSubstr("station fault: records cannot be kept"));
  EXPECT_THAT(err, HasSubstr("it is kept in " + unkept));
  EXPECT_THAT(station.Text("stdout"), Not(HasSubstr("SN2")));

  std::filesystem::remove(dir.File("out/runs"));
  std::filesystem::rename(dir.File("out/runs.kept"), dir.File("out/runs"));
  const std::vector<std::string> import{MORLANE_CLI, "--records", dir.File("out"),
                                        "records",   "import",    unkept};
  test::ProcessResult first = test::RunProcess(import, "", 30);
  EXPECT_EQ(first.status, 0) << first.err;
  EXPECT_EQ(first.out, "1 runs imported, 0 already in the store\n");
  test::ProcessResult again = test::RunProcess(import, "", 30);
  EXPECT_EQ(again.out, "0 runs imported, 1 already in the store\n");
  const std::vector<std::string> records = Records();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_THAT(records[0], HasSubstr("\"unit_id\": \"SN1\""));
  EXPECT_THAT(records[0], HasSubstr("\"result\": \"fail\", \"failed_step\": \"record\""));
  std::smatch runId;
  ASSERT_TRUE(std::regex_search(records[0], runId, std::regex("\"run_id\": \"([^\"]+)\"")));
  test::ProcessResult log = test::RunProcess(
      {MORLANE_CLI, "--records", dir.File("out"), "records", "show", runId[1].str()}, "", 30);
  EXPECT_THAT(log.out, HasSubstr("Com1 is opened"));
}

// The disk of the records fills while a unit runs: that unit is kept, and the next scan is
// refused as the station's fault, not started and failed at its record. The records live on
// a small in-memory file system of this test's own (a mount namespace, so nothing of it is
// seen outside; skipped where the test may not make one).
TEST_F(StationE2e, AFullDiskStopsTheStationBeforeTheNextUnit) {
  if (unshare(CLONE_NEWNS) != 0 ||
      mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
    GTEST_SKIP() << "no mount namespace for this test (it needs root)";
  }
  std::filesystem::create_directories(dir.File("out"));
  if (mount("tmpfs", dir.File("out").c_str(), "tmpfs", 0, "size=17m") != 0) {
    GTEST_SKIP() << "no in-memory file system for this test";
  }
  // Let go before the test's folder is removed, which it would otherwise keep.
  struct Unmount {
    std::string at;
    ~Unmount() { umount2(at.c_str(), MNT_DETACH); }
  } unmount{dir.File("out")};
  WriteProfile("scan", {"/dev/ttyS0", "/dev/ttyS1"});
  std::vector<std::string> argv{"/usr/bin/env", "XDG_STATE_HOME=" + dir.File("state")};
  for (const std::string& word : Argv({"--simulate-units", "2"})) argv.push_back(word);
  test::Background station(argv, dir);
  station.Type("SN1");
  ASSERT_TRUE(station.WaitFor("stdout", "A SN1 started\n", 10)) << station.Text("stderr");
  dir.Write("out/filler", std::vector<uint8_t>(3u << 20, 0));
  ASSERT_TRUE(station.WaitFor("stdout", "A SN1 PASS", 60)) << station.Text("stderr");
  station.Type("SN2");
  ASSERT_TRUE(station.WaitFor("stderr", "SN2 not started", 10)) << station.Text("stderr");
  station.EndInput();
  EXPECT_EQ(station.Wait(20), 1);
  EXPECT_THAT(station.Text("stderr"),
              HasSubstr("station fault: records cannot be kept (no room for records in " +
                        dir.File("out") + " ("));
  EXPECT_THAT(station.Text("stdout"), Not(HasSubstr("SN2")));
  const std::vector<std::string> records = Records();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_THAT(records[0], HasSubstr("\"unit_id\": \"SN1\""));
  EXPECT_THAT(records[0], HasSubstr("\"result\": \"pass\""));
}

// Ports that cannot be opened when the station starts: one not there and one another
// program holds take their slots out of service, said with the port and why (and found by
// the profile's check beforehand); the slot that can serve takes the units, until another
// program takes its port too.
TEST_F(StationE2e, ASlotWhosePortCannotBeOpenedIsOutOfService) {
  SimProcess a(MORLANE_UNIT_SIM);
  SimProcess c(MORLANE_UNIT_SIM);
  ASSERT_TRUE(a.Running() && c.Running());
  const int held = ::open(c.Path().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(held, 0);
  ASSERT_EQ(::flock(held, LOCK_EX | LOCK_NB), 0);
  WriteProfile("scan", {a.Path(), dir.File("ttyUSB9"), c.Path()});
  const std::vector<std::string> check{MORLANE_CLI, "station", "--check", "--profile",
                                       dir.File("line1.toml")};
  test::ProcessResult checked = test::RunProcess(check, "", 30);
  EXPECT_EQ(checked.status, 1) << checked.err;
  EXPECT_THAT(checked.out, HasSubstr("ok: image " + dir.File("master.bin") + ": as approved\n"));
  EXPECT_THAT(checked.out, HasSubstr("ok: records " + dir.File("out") + ": writable, with room\n"));
  EXPECT_THAT(checked.out, HasSubstr("ok: slot A: " + a.Path() + " is there and free\n"));
  EXPECT_THAT(checked.out,
              HasSubstr("not ready: slot B: " + dir.File("ttyUSB9") + ": not found\n"));
  EXPECT_THAT(checked.out,
              HasSubstr("not ready: slot C: " + c.Path() + " is held by another program\n"));
  test::Background station(Argv(), dir);
  station.Type("B SN2");
  station.Type("SN1");
  ASSERT_TRUE(station.WaitFor("stdout", "A SN1 PASS", 60)) << station.Text("stderr");
  // Another program takes A's port in the middle of the shift: the unit scanned next is
  // never reached, its run is cut short rather than failed, and A goes out of service.
  const int taken = ::open(a.Path().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(taken, 0);
  ASSERT_EQ(::flock(taken, LOCK_EX | LOCK_NB), 0);
  station.Type("A SN3");
  ASSERT_TRUE(station.WaitFor("stdout", "A SN3 ABORTED", 30)) << station.Text("stderr");
  station.Type("SN4");
  ASSERT_TRUE(station.WaitFor("stderr", "no slot is free: SN4 not started", 10))
      << station.Text("stderr");
  station.EndInput();
  EXPECT_EQ(station.Wait(20), 1);
  ::close(taken);
  ::close(held);
  const std::string err = station.Text("stderr");
  EXPECT_THAT(err, HasSubstr("B: out of service: its port " + dir.File("ttyUSB9") +
                             " not found; it takes no unit until the station starts again"));
  EXPECT_THAT(err,
              HasSubstr("C: out of service: its port " + c.Path() + " is held by another program"));
  EXPECT_THAT(err, HasSubstr("slot B is out of service (" + dir.File("ttyUSB9") +
                             ": not found): SN2 not started"));
  EXPECT_THAT(err,
              HasSubstr("A: out of service: its port " + a.Path() + " is held by another program"));
  EXPECT_EQ(Count(station.Text("stdout"), "started"), 2);
  const std::vector<std::string> records = Records();
  ASSERT_EQ(records.size(), 2u);
  EXPECT_THAT(records[0], HasSubstr("\"unit_id\": \"SN3\""));
  EXPECT_THAT(records[0], HasSubstr("\"result\": \"aborted\""));
  EXPECT_THAT(c.Stop(), HasSubstr("0 protocol errors"));

  // With its one good slot the profile is ready; a profile that cannot be read is exit 2.
  WriteProfile("scan", {a.Path()});
  checked = test::RunProcess(check, "", 30);
  EXPECT_EQ(checked.status, 0) << checked.out << checked.err;
  dir.Write("line1.toml", std::string("procedure = \"burn\"\n"));
  EXPECT_EQ(test::RunProcess(check, "", 30).status, 2);
}

// A unit starts its slot by being there, with the label scanned before it came; its slot
// waits until it is taken out, and the next unit, put in without a label, starts it again.
TEST_F(StationE2e, PresenceStartsEachUnitOnceUntilItIsTakenOut) {
  SimProcess unit(MORLANE_UNIT_SIM, {"--taken-out"});
  ASSERT_TRUE(unit.Running());
  WriteProfile("presence", {unit.Path()}, "presence_absent_s = 1\n");
  test::Background station(Argv(), dir);
  station.Type("A SN7");
  ASSERT_TRUE(station.WaitFor("stderr", "scan UNIT_ID", 10)) << station.Text("stderr");
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  EXPECT_EQ(station.Text("stdout"), "");  // scanned, but no unit in the fixture yet
  unit.Control("in");
  ASSERT_TRUE(station.WaitFor("stdout", "A SN7 PASS", 60)) << station.Text("stderr");
  std::this_thread::sleep_for(std::chrono::milliseconds(2500));
  EXPECT_EQ(Count(station.Text("stdout"), "started"), 1);  // still the same unit
  unit.Control("out");
  std::this_thread::sleep_for(std::chrono::milliseconds(2500));
  unit.Control("in");
  ASSERT_TRUE(station.WaitFor("stdout", "A - PASS", 60)) << station.Text("stderr");
  station.Interrupt();
  EXPECT_EQ(station.Wait(20), 0);
  EXPECT_THAT(unit.Stop(), HasSubstr("0 protocol errors"));
  const std::vector<std::string> records = Records();
  ASSERT_EQ(records.size(), 2u);
  EXPECT_THAT(records[1], HasSubstr("\"unit_id\": \"SN7\""));
  EXPECT_THAT(records[0], HasSubstr("\"unit_id\": null"));
}

}  // namespace
}  // namespace morlane
