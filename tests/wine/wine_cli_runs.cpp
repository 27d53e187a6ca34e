// Whole runs of the Windows morlane-cli.exe under Wine against morlane-unit-sim on a
// pseudo-terminal that the Wine prefix maps as COM1. Each run is made twice, once by the
// Linux program and once by the Windows one, each against a fresh unit: the log lines,
// the exit status and what the CPUs' flash holds afterwards must be the same.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <future>
#include <regex>

#include "flash/test_image_maker.h"
#include "image/s19_text.h"
#include "link/sha256.h"
#include "platform/utf8_path.h"
#include "support/environment.h"
#include "support/process.h"
#include "wine_programs.h"

namespace morlane {
namespace {

using test::ImageSection;
using test::ProcessResult;
using test::RunProcess;
using test::SimProcess;
using test::SplitLines;
using test::TempDir;
using test::WindowsCli;
using test::Words;

// Words that carry the software flow-control bytes 0x11 and 0x13: a line that still
// takes them for XON/XOFF loses them and the verify fails.
const std::vector<ImageSection> kMaster = {{0x2010, {0x1113, 0x1311, 0x0011, 0x1300}},
                                           {0x9000, Words(2, 0x4000)}};
const std::vector<ImageSection> kSlave = {{0x0100, Words(3, 0x6000)}};

// A run: what the program printed, and the unit's report of its CPUs when it ended.
struct CliRun {
  ProcessResult result;
  std::vector<std::string> lines;
  std::string unitReport;
};

std::string CpuLine(const std::string& report, char cpu) {
  std::smatch m;
  std::regex line(std::string("cpu ") + cpu + ": [^\n]*");
  return std::regex_search(report, m, line) ? m.str() : "no report of cpu " + std::string(1, cpu);
}

// The prefix's session is kept for all the runs of this program: each Windows program then
// starts in a fraction of a second and ends as soon as it is done, where a session started
// for it costs a second or two and its services hold its output for seconds after its end.
// Wine makes its COM ports when a session starts: COM1 is mapped once, to a link that each
// run points at its own unit. Ended, with whatever it still runs, when the runs are over.
class KeptWineSession : public ::testing::Environment {
 public:
  static bool Kept() { return kept_; }
  // The link COM1 stands for while the session is kept.
  static std::string Com1Link() { return test::WinePrefix() + "/morlane-com1"; }

  void SetUp() override {
    if (!std::filesystem::exists(WindowsCli())) return;
    std::error_code ignored;
    std::filesystem::remove(Com1Link(), ignored);
    std::filesystem::create_symlink("/dev/null", Com1Link(), ignored);
    // The prefix made (on a new machine) and COM1 mapped, in a session that then ends.
    ProcessResult mapped =
        RunProcess({MORLANE_WINE_RUN, "reg", "add", "HKLM\\Software\\Wine\\Ports", "/v", "COM1",
                    "/t", "REG_SZ", "/d", Com1Link(), "/f"},
                   "", 300);
    if (mapped.status != 0 || Quietly("WINEPREFIX=\"$0\" exec wineserver -w").status != 0) return;
    // A server that stays, and the session's services started with no output of a test's
    // to hold.
    kept_ = Quietly("WINEPREFIX=\"$0\" exec wineserver -p").status == 0 &&
            Quietly("exec \"$1\" cmd /c exit", MORLANE_WINE_RUN).status == 0;
  }
  void TearDown() override {
    if (kept_) Quietly("WINEPREFIX=\"$0\" exec wineserver -k");
    kept_ = false;
  }

 private:
  static ProcessResult Quietly(const std::string& command, const std::string& program = "") {
    return RunProcess({"/bin/sh", "-c", command + " >/dev/null 2>&1", test::WinePrefix(), program},
                      "", 120);
  }
  static inline bool kept_ = false;
};

[[maybe_unused]] ::testing::Environment* const kKeptWineSession =
    ::testing::AddGlobalTestEnvironment(new KeptWineSession);

class WineCliRuns : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!std::filesystem::exists(WindowsCli())) {
      GTEST_SKIP() << "no Windows build at " << WindowsCli();
    }
  }

  // The same images in a folder of each program's own.
  void Images(bool master, bool slave) {
    for (TempDir* dir : {&linuxDir, &windowsDir}) {
      if (master) dir->Write("Master.bin", test::MakeInverterImage(kMaster));
      if (slave) dir->Write("Slave.bin", test::MakeInverterImage(kSlave));
    }
  }

  CliRun Linux(const std::vector<std::string>& args, const std::vector<std::string>& faults = {}) {
    SimProcess unit(MORLANE_UNIT_SIM, faults);
    EXPECT_TRUE(unit.Running());
    std::vector<std::string> argv{MORLANE_CLI, "--port", unit.Path()};
    argv.insert(argv.end(), args.begin(), args.end());
    CliRun run{RunProcess(argv, linuxDir.Path(), 120), {}, {}};
    run.unitReport = unit.Stop();
    run.lines = Normalized(SplitLines(run.result.out), linuxDir);
    return run;
  }

  CliRun Windows(const std::vector<std::string>& args,
                 const std::vector<std::string>& faults = {}) {
    SimProcess unit(MORLANE_UNIT_SIM, faults);
    EXPECT_TRUE(unit.Running());
    if (KeptWineSession::Kept()) {
      std::error_code failed;
      std::filesystem::remove(KeptWineSession::Com1Link(), failed);
      std::filesystem::create_symlink(unit.Path(), KeptWineSession::Com1Link(), failed);
      EXPECT_FALSE(failed) << failed.message();
    } else {
      // Wine makes its COM1 from this value whenever a session starts.
      ProcessResult mapped =
          RunProcess({MORLANE_WINE_RUN, "reg", "add", "HKLM\\Software\\Wine\\Ports", "/v", "COM1",
                      "/t", "REG_SZ", "/d", unit.Path(), "/f"},
                     "", 120);
      EXPECT_EQ(mapped.status, 0) << mapped.out << mapped.err;
    }
    std::vector<std::string> argv{MORLANE_WINE_RUN, WindowsCli(), "--port", "COM1"};
    argv.insert(argv.end(), args.begin(), args.end());
    CliRun run{RunProcess(argv, windowsDir.Path(), 120), {}, {}};
    run.unitReport = unit.Stop();
    run.lines = Normalized(SplitLines(run.result.out), windowsDir);
    return run;
  }

  // The same run on both systems at once, each with a unit of its own: the runs wait on
  // the unit's timing far more than they compute.
  std::pair<CliRun, CliRun> Both(const std::vector<std::string>& args,
                                 const std::vector<std::string>& faults = {}) {
    std::future<CliRun> onLinux =
        std::async(std::launch::async, [&] { return Linux(args, faults); });
    CliRun onWindows = Windows(args, faults);
    return {onLinux.get(), std::move(onWindows)};
  }

  // Paths into a run's folder differ between the systems ("/tmp/x/Master.bin" and
  // "Z:\tmp\x\Master.bin"): they are compared by the file's name.
  static std::vector<std::string> Normalized(std::vector<std::string> lines, const TempDir& dir) {
    std::string folder = std::filesystem::path(dir.Path()).filename().string();
    for (std::string& line : lines) {
      size_t at = line.find(folder);
      if (at == std::string::npos) continue;
      size_t name = line.find_last_of("/\\");
      line = "<run folder>/" + (name == std::string::npos ? line : line.substr(name + 1));
    }
    return lines;
  }

  static void ExpectSameRun(const CliRun& onLinux, const CliRun& onWindows) {
    EXPECT_EQ(onWindows.result.status, onLinux.result.status) << onWindows.result.err;
    EXPECT_FALSE(onWindows.result.timedOut);
    EXPECT_EQ(onWindows.lines, onLinux.lines);
    for (char cpu : {'M', 'S'}) {
      EXPECT_EQ(CpuLine(onWindows.unitReport, cpu), CpuLine(onLinux.unitReport, cpu));
    }
    // Seen from the unit's side of the line: no XON/XOFF while bytes came.
    EXPECT_THAT(onWindows.unitReport, ::testing::HasSubstr("line: software flow control never on"));
  }

  TempDir linuxDir;
  TempDir windowsDir;
};

TEST_F(WineCliRuns, FlashProgramsTheMasterCpuAsOnLinux) {
  Images(true, false);
  auto [onLinux, onWindows] = Both({"flash", "Master.bin"});
  ASSERT_EQ(onLinux.result.status, 0) << onLinux.result.out;
  ExpectSameRun(onLinux, onWindows);
  EXPECT_THAT(onWindows.unitReport, ::testing::HasSubstr("0 protocol errors"));
  // stdout carries a line's own "\n" unchanged, not as "\r\n".
  EXPECT_THAT(onWindows.result.out, ::testing::HasSubstr("Flash verified Successful!!\n\n"));
}

TEST_F(WineCliRuns, AutomaticProgramsBothCpusAsOnLinux) {
  Images(true, true);
  auto [onLinux, onWindows] = Both({"auto"});
  ASSERT_EQ(onLinux.result.status, 0) << onLinux.result.out;
  ExpectSameRun(onLinux, onWindows);
}

TEST_F(WineCliRuns, RefusedEraseFailsAsOnLinux) {
  Images(true, false);
  auto [onLinux, onWindows] = Both({"flash", "Master.bin"}, {"--refuse-erase"});
  ASSERT_EQ(onLinux.result.status, 1);
  ExpectSameRun(onLinux, onWindows);
}

TEST_F(WineCliRuns, SendAndTestAnswerAsOnLinux) {
  auto [onLinux, onWindows] = Both({"send", "Q1"});
  ASSERT_EQ(onLinux.result.status, 0);
  ExpectSameRun(onLinux, onWindows);

  // The test's count of exchanges depends on timing; each must be a whole answer of Q1,
  // filed in MCUlog.txt as on Linux.
  CliRun test = Windows({"test", "--commands", "Q1", "--seconds", "2"});
  EXPECT_EQ(test.result.status, 0) << test.result.err;
  std::vector<std::string> answers;
  for (const std::string& line : test.lines) {
    if (line.rfind("(230.1", 0) == 0) answers.push_back(line);
  }
  EXPECT_FALSE(answers.empty()) << test.result.out;
  std::vector<uint8_t> log = windowsDir.Read("MCUlog.txt");
  std::string text(log.begin(), log.end());
  EXPECT_THAT(text, ::testing::StartsWith("\r\nTest Begin Time: "));
  EXPECT_THAT(text, ::testing::HasSubstr("Q1\r"));
  EXPECT_THAT(text, ::testing::HasSubstr("Test Finish Time: "));
}

// A unit pulled in the middle of the master's burn: after the dialog's own line, the port is
// named as the technician gave it, and the slave is not tried on a port that is gone.
TEST_F(WineCliRuns, PortGoneMidBurnIsSaidAndNoFurtherCpuIsTried) {
  Images(true, true);
  CliRun pulled = Windows({"auto"}, {"--line-gone-after", "1"});
  EXPECT_EQ(pulled.result.status, 1) << pulled.result.err;
  // The step the line goes in depends on Wine's timing (the burn, mostly; the erase at
  // times): the dialog's own failure line comes first, followed by an empty one.
  const std::string gone = "the port COM1 went away: is the cable or adapter unplugged?";
  auto said = std::find(pulled.lines.begin(), pulled.lines.end(), gone);
  ASSERT_NE(said, pulled.lines.end()) << pulled.result.out;
  ASSERT_GE(said - pulled.lines.begin(), 2);
  EXPECT_THAT(*(said - 2), ::testing::HasSubstr("fail")) << pulled.result.out;
  EXPECT_EQ(std::count(pulled.lines.begin(), pulled.lines.end(), gone), 1);
  EXPECT_THAT(pulled.result.out, ::testing::Not(::testing::HasSubstr("Slave.bin")));
  EXPECT_TRUE(std::regex_search(pulled.result.err,
                                std::regex("FAIL: [a-z]+: Master.bin: the port went away\n$")))
      << pulled.result.err;
}

// Windows' own conventions: "/?" asks for the help, which speaks of COM ports; `doctor`
// speaks of nothing Windows does not have, and tells no one to correct a --port not given.
TEST_F(WineCliRuns, HelpAndDoctorSpeakOfComPorts) {
  for (const std::vector<std::string>& asked :
       {std::vector<std::string>{"/?"}, std::vector<std::string>{"flash", "/?"}}) {
    std::vector<std::string> argv{MORLANE_WINE_RUN, WindowsCli()};
    argv.insert(argv.end(), asked.begin(), asked.end());
    ProcessResult help = RunProcess(argv, windowsDir.Path(), 60);
    EXPECT_EQ(help.status, 0) << help.err;
    EXPECT_THAT(help.out, ::testing::HasSubstr(asked.size() == 1 ? "--port PORT" : "--cpu"));
  }
  ProcessResult help = RunProcess({MORLANE_WINE_RUN, WindowsCli(), "--help"}, "", 60);
  EXPECT_THAT(help.out, ::testing::HasSubstr("the unit's COM port (COM5, COM40)"));
  ProcessResult doctor = RunProcess({MORLANE_WINE_RUN, WindowsCli(), "doctor"}, "", 60);
  for (const ProcessResult* text : {&help, &doctor}) {
    for (const char* foreign : {"udev", "modem", "dialout", "/dev/", "--port or MORLANE_PORTS"}) {
      EXPECT_THAT(text->out, ::testing::Not(::testing::HasSubstr(foreign))) << text->out;
    }
  }
  EXPECT_THAT(doctor.out, ::testing::HasSubstr("note: the COM ports and the unit's USB device"));
}

// The dashboard is served from Linux alone: the Windows build keeps the command and says
// why it does not serve, before it opens anything.
TEST_F(WineCliRuns, TheDashboardIsRefusedWithItsReason) {
  ProcessResult refused =
      RunProcess({MORLANE_WINE_RUN, WindowsCli(), "--records", "out", "dashboard"}, "", 60);
  EXPECT_EQ(refused.status, 2);
  EXPECT_THAT(refused.err, ::testing::HasSubstr("does not serve the dashboard"));
  EXPECT_EQ(refused.out, "");
}

// A Windows user's folders carry names in any script ("C:\\Users\\Müller", a Chinese name):
// every path reaches the system whole, images are found, read and burned, and what a run
// writes (tmp.txt, tmp.bin, MCUlog.txt) lands in that folder.
TEST_F(WineCliRuns, FoldersAndFilesNamedInAnyScript) {
  const std::string folder = "d\xC3\xBCr \xE6\xB5\x8B\xE8\xAF\x95";  // "dür 测试"
  const std::string master =
      "Master_pr\xC3\xBC"
      "f.bin";                                                // "Master_prüf.bin"
  const std::string source = "\xE5\x9B\xBA\xE4\xBB\xB6.S19";  // "固件.S19"
  ASSERT_TRUE(std::filesystem::create_directory(PathFromUtf8(windowsDir.File(folder))));
  windowsDir.Write(folder + "/" + master, test::MakeInverterImage(kMaster));
  windowsDir.Write(folder + "/Slave_\xE6\xB5\x8B.bin", test::MakeInverterImage(kSlave));
  windowsDir.Write(folder + "/" + source,
                   test::S19File(test::S19Image(test::Span(0xE600, 0xE640)), "\r\n"));
  auto run = [&](std::vector<std::string> args) {
    args.insert(args.begin(), {MORLANE_WINE_RUN, WindowsCli(), "--simulate", "--dir", folder});
    return RunProcess(args, windowsDir.Path(), 120);
  };
  auto count = [](const ProcessResult& result, const std::string& line) {
    std::vector<std::string> lines = SplitLines(result.out);
    return std::count(lines.begin(), lines.end(), line);
  };

  ProcessResult both = run({"auto"});
  EXPECT_EQ(both.status, 0) << both.out << both.err;
  EXPECT_EQ(count(both, "Flash verified Successful!!"), 2) << both.out;

  // Relative paths are taken from --dir, as git -C takes them: the image and the records.
  ProcessResult one = run({"--records", "out", "flash", master});
  EXPECT_EQ(one.status, 0) << one.out << one.err;
  EXPECT_EQ(count(one, "Flash verified Successful!!"), 1) << one.out;
  EXPECT_TRUE(std::filesystem::exists(PathFromUtf8(windowsDir.File(folder + "/out/records.db"))));

  ProcessResult prepared = run({"prepare", source, "--link", "none"});
  EXPECT_EQ(prepared.status, 0) << prepared.out << prepared.err;
  EXPECT_FALSE(windowsDir.Read(folder + "/tmp.txt").empty());

  ProcessResult tested = run({"test", "--commands", "Q1", "--seconds", "1"});
  EXPECT_EQ(tested.status, 0) << tested.out << tested.err;
  std::vector<uint8_t> log = windowsDir.Read(folder + "/MCUlog.txt");
  EXPECT_THAT(std::string(log.begin(), log.end()), ::testing::HasSubstr("Q1\r"));
}

// A station on two simulated units inside the Windows program: both runs kept in the
// store (SQLite built for Windows), read back by the Windows program.
TEST_F(WineCliRuns, GangKeepsEveryRunInTheStationsStore) {
  Images(true, true);
  ProcessResult run = RunProcess(
      {MORLANE_WINE_RUN, WindowsCli(), "--simulate-units", "2", "--simulate-fault",
       "2:refuse-erase", "--records", "out", "--unit-id", "COM1=SN-0001", "gang", "auto"},
      windowsDir.Path(), 120);
  EXPECT_EQ(run.status, 1) << run.err;
  EXPECT_THAT(run.out, ::testing::HasSubstr("COM1: Flash verified Successful!!\n"));
  ProcessResult list =
      RunProcess({MORLANE_WINE_RUN, WindowsCli(), "--records", "out", "records", "list", "--json"},
                 windowsDir.Path(), 60);
  ASSERT_EQ(list.status, 0) << list.err;
  std::vector<std::string> records = test::SplitLines(list.out);
  ASSERT_EQ(records.size(), 2u) << list.out;
  std::string pass =
      records[0].find("\"slot\": \"COM1\"") != std::string::npos ? records[0] : records[1];
  std::string fail =
      records[0].find("\"slot\": \"COM2\"") != std::string::npos ? records[0] : records[1];
  EXPECT_THAT(pass, ::testing::HasSubstr("\"unit_id\": \"SN-0001\""));
  EXPECT_THAT(pass, ::testing::HasSubstr("\"result\": \"pass\""));
  EXPECT_THAT(fail, ::testing::HasSubstr("\"failed_step\": \"erase\""));
  ProcessResult yield =
      RunProcess({MORLANE_WINE_RUN, WindowsCli(), "--records", "out", "records", "yield"},
                 windowsDir.Path(), 60);
  EXPECT_EQ(yield.status, 0) << yield.err;
  EXPECT_THAT(yield.out, ::testing::HasSubstr("erase 1"));

  // The Windows build has no PostgreSQL client: a line database is refused before any unit
  // is touched, with the reason.
  ProcessResult line =
      RunProcess({MORLANE_WINE_RUN, WindowsCli(), "--simulate-units", "1", "--records", "out",
                  "--records-db", "postgresql://line-db/records", "gang", "auto"},
                 windowsDir.Path(), 60);
  EXPECT_EQ(line.status, 2);
  EXPECT_THAT(line.err, ::testing::HasSubstr("no PostgreSQL client"));
  EXPECT_EQ(line.out, "");
}

// A station on Windows: two scans typed into it, one unit refusing its erase; the lines,
// the records with the profile's digest, and the end with the input.
TEST_F(WineCliRuns, StationRunsTheScannedUnitsAndEndsWithItsInput) {
  Images(true, true);
  windowsDir.Write(
      "line1.toml",
      "procedure = \"auto\"\nimages = [ { file = \"Master.bin\", sha256 = \"" +
          FileSha256(windowsDir.File("Master.bin")) + "\" }, { file = \"Slave.bin\", sha256 = \"" +
          FileSha256(windowsDir.File("Slave.bin")) +
          "\" } ]\nrecords = \"out\"\n[[slot]]\nname = \"A\"\nport = \"COM1\"\n[[slot]]\nname = "
          "\"B\"\nport = \"COM2\"\n");
  ProcessResult run =
      RunProcess({MORLANE_WINE_RUN, WindowsCli(), "--simulate-units", "2", "--simulate-fault",
                  "2:refuse-erase", "station", "--profile", "line1.toml"},
                 windowsDir.Path(), 120, "SN-0001\nB SN-0002\n");
  EXPECT_EQ(run.status, 1) << run.err;
  EXPECT_THAT(run.out, ::testing::HasSubstr("A SN-0001 started\n"));
  EXPECT_TRUE(std::regex_search(run.out, std::regex("A SN-0001 PASS [0-9.]+ s\n"))) << run.out;
  EXPECT_TRUE(std::regex_search(run.out, std::regex("B SN-0002 FAIL erase [0-9.]+ s\n")))
      << run.out;
  ProcessResult list =
      RunProcess({MORLANE_WINE_RUN, WindowsCli(), "--records", "out", "records", "list", "--json"},
                 windowsDir.Path(), 60);
  ASSERT_EQ(list.status, 0) << list.err;
  ASSERT_EQ(test::SplitLines(list.out).size(), 2u) << list.out;
  EXPECT_THAT(list.out, ::testing::HasSubstr("\"profile\": \"" +
                                             FileSha256(windowsDir.File("line1.toml")) + "\""));
}

}  // namespace
}  // namespace morlane

namespace morlane {
namespace {

// A service package made and signed on Linux is checked by the Windows build with the same
// signature library and programmed from as on Linux; one it does not trust is refused
// before the unit is touched.
TEST_F(WineCliRuns, ServicePackageIsCheckedAndProgrammedAsOnLinux) {
  Images(true, true);
  ProcessResult key = RunProcess({"/usr/bin/env", "ssh-keygen", "-q", "-t", "ed25519", "-N", "",
                                  "-f", linuxDir.File("release")},
                                 linuxDir.Path(), 30);
  ASSERT_EQ(key.status, 0) << key.err;
  std::ifstream pub(linuxDir.File("release.pub"));
  std::string line((std::istreambuf_iterator<char>(pub)), std::istreambuf_iterator<char>());
  ProcessResult made =
      RunProcess({MORLANE_CLI, "package", "create", "inv.mlpkg", "--model", "INV-5K", "--release",
                  "2.4.1", "--sign-with", linuxDir.File("release"), "Master.bin", "Slave.bin"},
                 linuxDir.Path(), 60);
  ASSERT_EQ(made.status, 0) << made.err;
  for (TempDir* dir : {&linuxDir, &windowsDir}) {
    dir->Write("allowed_signers", "release@line.example " + line);
    dir->Write("nobody", "");
  }
  windowsDir.Write("inv.mlpkg", linuxDir.Read("inv.mlpkg"));

  const std::vector<std::string> args{"--package", "inv.mlpkg", "--trusted-keys", "allowed_signers",
                                      "auto"};
  auto [onLinux, onWindows] = Both(args);
  ASSERT_EQ(onLinux.result.status, 0) << onLinux.result.out << onLinux.result.err;
  ExpectSameRun(onLinux, onWindows);

  ProcessResult refused = RunProcess({MORLANE_WINE_RUN, WindowsCli(), "--trusted-keys", "nobody",
                                      "package", "inspect", "inv.mlpkg"},
                                     windowsDir.Path(), 60);
  EXPECT_EQ(refused.status, 1) << refused.out << refused.err;
  EXPECT_THAT(refused.out, ::testing::HasSubstr("refused: its signer SHA256:"));
}

}  // namespace
}  // namespace morlane
