// A production station: four units on pseudo-terminals programmed at once by one
// morlane-cli, one unit refusing the erase; each unit's flash, log and run record.
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

// morlane-cli in the background, its output in files, so that a test can press Ctrl-C
// while the units run.
class Station {
 public:
  Station(std::vector<std::string> argv, const TempDir& dir) : dir_(dir) {
    pid_ = fork();
    if (pid_ == 0) {
      int out = open(dir.File("stdout").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      int err = open(dir.File("stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      dup2(out, 1);
      dup2(err, 2);
      std::vector<char*> args;
      for (std::string& arg : argv) args.push_back(arg.data());
      args.push_back(nullptr);
      execv(args[0], args.data());
      _exit(127);
    }
  }
  ~Station() {
    if (pid_ > 0 && status_ < 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }
  // Waits until the file holds the text; false after seconds.
  bool WaitFor(const std::string& file, const std::string& text, int seconds) {
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (std::chrono::steady_clock::now() < end) {
      std::error_code error;
      if (std::filesystem::exists(dir_.File(file), error) &&
          Text(dir_, file).find(text) != std::string::npos) {
        return true;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
  }
  void Interrupt() { kill(pid_, SIGINT); }
  // The exit status, or -1 when it had not ended after seconds.
  int Wait(int seconds) {
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (std::chrono::steady_clock::now() < end) {
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        return status_;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return -1;
  }

 private:
  const TempDir& dir_;
  pid_t pid_ = -1;
  int status_ = -1;
};

class GangInterruptE2e : public ::testing::Test {
 protected:
  GangInterruptE2e() {
    dir.Write("Master.bin", test::MakeInverterImage(kMaster));
    dir.Write("Slave.bin", test::MakeInverterImage(kSlave));
  }
  std::vector<std::string> Argv() const {
    return {MORLANE_CLI, "--simulate-units", "2",    "--dir", dir.Path(),
            "--records", dir.File("out"),    "gang", "auto"};
  }
  TempDir dir;
};

TEST_F(GangInterruptE2e, OnceFinishesTheRunningCpuAndStartsNoOther) {
  Station station(Argv(), dir);
  ASSERT_TRUE(station.WaitFor("out/COM2.log", "Flash burning in...", 30));
  station.Interrupt();
  EXPECT_EQ(station.Wait(30), 1);
  for (const char* name : {"COM1", "COM2"}) {
    std::string log = Text(dir, std::string("out/") + name + ".log");
    EXPECT_THAT(log, HasSubstr("Flash verified Successful!!\n"));
    EXPECT_THAT(log, Not(HasSubstr(dir.File("Slave.bin"))));
    std::string record = Text(dir, std::string("out/") + name + ".json");
    EXPECT_THAT(record, HasSubstr("\"result\": \"aborted\", \"images\": [{"));
    EXPECT_THAT(record, HasSubstr("\"cpu\": \"master\", \"result\": \"pass\"}]}"));
  }
}

TEST_F(GangInterruptE2e, LiveViewOnATerminalEndsWithEachUnitsVerdict) {
  test::ProcessResult result = test::RunOnTerminal(Argv(), 60);
  EXPECT_EQ(result.status, 0) << result.out;
  EXPECT_TRUE(
      std::regex_search(result.out, std::regex("COM1 +/dev/pts/[0-9]+ .*\\[#+\\] 100 %  PASS")))
      << result.out;
  EXPECT_TRUE(std::regex_search(result.out, std::regex("COM2 +/dev/pts/[0-9]+ .*PASS")));
  EXPECT_THAT(result.out, HasSubstr("gang: 2 passed, 0 failed or stopped"));
}

TEST_F(GangInterruptE2e, TwiceStopsEveryUnitNow) {
  Station station(Argv(), dir);
  ASSERT_TRUE(station.WaitFor("out/COM2.log", "Flash burning in...", 30));
  const auto pressed = std::chrono::steady_clock::now();
  station.Interrupt();
  std::this_thread::sleep_for(std::chrono::milliseconds(400));
  station.Interrupt();
  EXPECT_EQ(station.Wait(30), 1);
  // Within the waits of one exchange, not the rest of the burn.
  EXPECT_LT(std::chrono::steady_clock::now() - pressed, std::chrono::seconds(5));
  for (const char* name : {"COM1", "COM2"}) {
    std::string log = Text(dir, std::string("out/") + name + ".log");
    EXPECT_THAT(log, Not(HasSubstr("Flash verified Successful!!")));
    EXPECT_THAT(log, HasSubstr("Close Serial MCU OK!"));
    EXPECT_THAT(Text(dir, std::string("out/") + name + ".json"),
                HasSubstr("\"result\": \"aborted\""));
  }
}

}  // namespace
}  // namespace morlane
