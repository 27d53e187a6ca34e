// Whole runs of morlane-cli's send and test against the simulated unit: over a
// pseudo-terminal with morlane-unit-sim, and over the in-process USB side.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <regex>

#include "support/process.h"

namespace morlane {
namespace {

using test::RunProcess;
using test::SimProcess;
using test::SplitLines;
using test::TempDir;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

const std::string kDash36(36, '-');
const std::string kDash38(38, '-');
const std::string kQ1Answer = "(230.1 229.8 230.0 012 50.0 27.2 --.- 00000000\r";
const std::string kV2Answer = "(V2 01.20\r";

test::ProcessResult Cli(const std::vector<std::string>& args, int timeoutSeconds = 60) {
  std::vector<std::string> argv{MORLANE_CLI};
  argv.insert(argv.end(), args.begin(), args.end());
  return RunProcess(argv, "", timeoutSeconds);
}

std::string FileText(const TempDir& dir) {
  std::vector<uint8_t> bytes = dir.Read("MCUlog.txt");
  return std::string(bytes.begin(), bytes.end());
}

// The time stamps of the file, checked for plain decimals without leading zeros and then
// replaced by "T", so that the rest can be compared byte for byte.
std::string WithoutTimes(const std::string& file, int* stamps) {
  const std::regex stamp("Time: ([0-9]+)/([0-9]+)/([0-9]+) ([0-9]+):([0-9]+):([0-9]+)-");
  std::string out;
  auto begin = std::sregex_iterator(file.begin(), file.end(), stamp);
  size_t last = 0;
  *stamps = 0;
  for (auto it = begin; it != std::sregex_iterator(); ++it) {
    for (size_t field = 1; field <= 6; ++field) {
      std::string value = (*it)[field];
      EXPECT_TRUE(value == "0" || value[0] != '0') << "leading zero in " << it->str();
    }
    out += file.substr(last, static_cast<size_t>(it->position()) - last) + "Time: T-";
    last = static_cast<size_t>(it->position() + it->length());
    ++*stamps;
  }
  return out + file.substr(last);
}

struct Exchange {
  std::string command;
  std::string answer;  // or the failure line
};

// The test's part of the log, from "Begin Auto Send MCU command" to the stop lines, as
// command and answer pairs. "Stop" may land between a command and its answer.
std::vector<Exchange> TestExchanges(const std::vector<std::string>& lines, const char* exitLine) {
  auto begin = std::find(lines.begin(), lines.end(), "Begin Auto Send MCU command");
  EXPECT_NE(begin, lines.end());
  if (begin == lines.end() || lines.end() - begin < 3) return {};
  EXPECT_EQ(begin[1], kDash36);
  EXPECT_EQ(begin[2], "Send MCU command in auto thread");
  std::vector<std::string> rest;
  auto it = begin + 3;
  for (; it != lines.end() && *it != exitLine; ++it) {
    if (*it != "Stop auto send MCU command") rest.push_back(*it);
  }
  EXPECT_EQ(std::count(begin, lines.end(), "Stop auto send MCU command"), 1);
  EXPECT_NE(it, lines.end()) << "no " << exitLine;
  EXPECT_EQ(lines.end() - it, 4);  // exit line, dash, "Close ... OK!", dash
  std::vector<Exchange> exchanges;
  for (size_t i = 0; i + 1 < rest.size(); i += 2) exchanges.push_back({rest[i], rest[i + 1]});
  EXPECT_EQ(rest.size() % 2, 0u);
  return exchanges;
}

TEST(ConsoleE2E, SendOverThePseudoTerminal) {
  SimProcess sim(MORLANE_UNIT_SIM);
  ASSERT_TRUE(sim.Running());
  TempDir dir;
  test::ProcessResult result = Cli({"--port", sim.Path(), "--dir", dir.Path(), "send", "Q1"});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_THAT(SplitLines(result.out),
              ElementsAre("Com1 is opened,please insert com1 cable to inverter and", "pc.", kDash38,
                          "Send MCU command", "Q1", kQ1Answer, "Close Serial MCU OK!", kDash36));

  SimProcess silent(MORLANE_UNIT_SIM, {"--silent"});
  ASSERT_TRUE(silent.Running());
  result = Cli({"--port", silent.Path(), "send", "Q1"});
  EXPECT_EQ(result.status, 1);
  EXPECT_THAT(SplitLines(result.out), ::testing::Contains("Write report error"));
}

TEST(ConsoleE2E, SendOverUsbWithoutEnter) {
  test::ProcessResult result = Cli({"--simulate", "send", "V2", "--link", "usb", "--no-enter"});
  EXPECT_EQ(result.status, 0) << result.err;
  std::vector<std::string> lines = SplitLines(result.out);
  ASSERT_GE(lines.size(), 3u);
  EXPECT_THAT(std::vector<std::string>(lines.end() - 5, lines.end()),
              ElementsAre("Send MCU command", "V2", kV2Answer, "Close HID MCU OK!", kDash36));
}

TEST(ConsoleE2E, SerialTestCyclesAndFilesEveryExchange) {
  SimProcess sim(MORLANE_UNIT_SIM);
  ASSERT_TRUE(sim.Running());
  TempDir dir;
  test::ProcessResult result = Cli(
      {"--port", sim.Path(), "--dir", dir.Path(), "test", "--commands", "Q1,V2", "--seconds", "3"});
  EXPECT_EQ(result.status, 0) << result.err;
  std::vector<std::string> lines = SplitLines(result.out);
  std::vector<Exchange> exchanges = TestExchanges(lines, "Stop auto send command!");
  // 300 ms a command, after the line's 500 ms: some eight in three seconds.
  ASSERT_GE(exchanges.size(), 5u) << result.out;
  std::string expected;
  std::string stream;
  for (size_t i = 0; i < exchanges.size(); ++i) {
    EXPECT_EQ(exchanges[i].command, i % 2 == 0 ? "Q1" : "V2");
    expected += "\r\nTest Begin Time: T----------------------\r\n" + exchanges[i].command + "\r\n";
    if (exchanges[i].answer == "Write Report Error") continue;
    expected += exchanges[i].answer + "\r\n";
    stream += exchanges[i].answer;
  }
  // Read without waiting, an answer may come after the next command, two may run together
  // and one may be read in two parts; in order, they are still the unit's whole answers.
  int whole = 0;
  size_t at = 0;
  while (at < stream.size()) {
    size_t end = stream.find('\r', at);
    std::string piece = stream.substr(at, end == std::string::npos ? end : end + 1 - at);
    if (end == std::string::npos) {
      EXPECT_TRUE(kQ1Answer.rfind(piece, 0) == 0 || kV2Answer.rfind(piece, 0) == 0) << piece;
      break;
    }
    EXPECT_TRUE(piece == kQ1Answer || piece == kV2Answer) << piece;
    ++whole;
    at = end + 1;
  }
  EXPECT_GE(whole, static_cast<int>(exchanges.size()) - 2);
  expected += "\r\nTest Finish Time: T----------------------\r\n";
  int stamps = 0;
  EXPECT_EQ(WithoutTimes(FileText(dir), &stamps), expected);
  EXPECT_EQ(stamps, static_cast<int>(exchanges.size()) + 1);
  EXPECT_EQ(lines.back(), kDash36);
  EXPECT_EQ(lines[lines.size() - 2], "Close Serial MCU OK!");
}

// A unit that answers after 120 ms, as a slow line with an adapter's latency does: each
// answer is still taken within the pause and filed under its own command, in the log and
// in MCUlog.txt.
TEST(ConsoleE2E, SerialTestFilesEachLateAnswerUnderItsOwnCommand) {
  SimProcess sim(MORLANE_UNIT_SIM, {"--answer-delay-ms", "120"});
  ASSERT_TRUE(sim.Running());
  TempDir dir;
  test::ProcessResult result = Cli(
      {"--port", sim.Path(), "--dir", dir.Path(), "test", "--commands", "Q1,V2", "--seconds", "3"});
  EXPECT_EQ(result.status, 0) << result.err;
  std::vector<Exchange> exchanges =
      TestExchanges(SplitLines(result.out), "Stop auto send command!");
  ASSERT_GE(exchanges.size(), 4u) << result.out;
  std::string expected;
  for (size_t i = 0; i < exchanges.size(); ++i) {
    const Exchange& e = exchanges[i];
    // "Stop" may cut the last wait short.
    if (i + 1 < exchanges.size()) {
      EXPECT_EQ(e.answer, e.command == "Q1" ? kQ1Answer : kV2Answer) << result.out;
    }
    expected += "\r\nTest Begin Time: T----------------------\r\n" + e.command + "\r\n";
    if (e.answer != "Write Report Error") expected += e.answer + "\r\n";
  }
  expected += "\r\nTest Finish Time: T----------------------\r\n";
  int stamps = 0;
  EXPECT_EQ(WithoutTimes(FileText(dir), &stamps), expected);
}

TEST(ConsoleE2E, UsbTestCyclesAndFilesEveryExchange) {
  TempDir dir;
  test::ProcessResult result = Cli({"--simulate", "--dir", dir.Path(), "test", "--link", "usb",
                                    "--commands", "Q1,V2", "--seconds", "3"});
  EXPECT_EQ(result.status, 0) << result.err;
  std::vector<std::string> lines = SplitLines(result.out);
  std::vector<Exchange> exchanges = TestExchanges(lines, "The auto send command Eixt!");
  ASSERT_GE(exchanges.size(), 5u) << result.out;
  std::string expected = "\rTest Begin Time: T----------------------\r\r";
  for (size_t i = 0; i < exchanges.size(); ++i) {
    const Exchange& e = exchanges[i];
    EXPECT_EQ(e.command, i % 2 == 0 ? "Q1" : "V2");
    EXPECT_EQ(e.answer, e.command == "Q1" ? kQ1Answer : kV2Answer);
    expected += e.command + "\r" + e.answer;
  }
  expected += "\r\rTest Finish Time: T----------------------\r";
  int stamps = 0;
  EXPECT_EQ(WithoutTimes(FileText(dir), &stamps), expected);
  EXPECT_EQ(stamps, 2);
  EXPECT_EQ(lines[lines.size() - 2], "Close HID MCU OK!");
}

TEST(ConsoleE2E, SilentUnitFailsTheTestAndBadListsAreUsageErrors) {
  SimProcess silent(MORLANE_UNIT_SIM, {"--silent"});
  ASSERT_TRUE(silent.Running());
  TempDir dir;
  test::ProcessResult result =
      Cli({"--port", silent.Path(), "--dir", dir.Path(), "test", "--seconds", "1"});
  EXPECT_EQ(result.status, 1);
  EXPECT_THAT(SplitLines(result.out), ::testing::Contains("Write Report Error"));
  EXPECT_EQ(Cli({"--simulate", "test", "--commands", "Q1,Q9"}).status, 2);
  EXPECT_EQ(Cli({"--simulate", "test", "--seconds", "-1"}).status, 2);
}

// Runs morlane-cli until its output holds marker, then sends it SIGINT as Ctrl-C does.
test::ProcessResult InterruptWhenSeen(const std::vector<std::string>& args,
                                      const std::string& marker) {
  test::ProcessResult result;
  int out[2];
  if (pipe2(out, O_CLOEXEC) != 0) return result;
  pid_t pid = fork();
  if (pid == 0) {
    dup2(out[1], 1);
    int devnull = open("/dev/null", O_WRONLY);
    dup2(devnull, 2);
    std::vector<char*> argv{const_cast<char*>(MORLANE_CLI)};
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(out[1]);
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  bool interrupted = false;
  while (std::chrono::steady_clock::now() < deadline) {
    pollfd fd{out[0], POLLIN, 0};
    if (poll(&fd, 1, 50) <= 0) continue;
    char buffer[4096];
    ssize_t n = read(out[0], buffer, sizeof buffer);
    if (n <= 0) break;
    result.out.append(buffer, static_cast<size_t>(n));
    if (!interrupted && result.out.find(marker) != std::string::npos) {
      kill(pid, SIGINT);
      interrupted = true;
    }
  }
  if (std::chrono::steady_clock::now() >= deadline) {
    result.timedOut = true;
    kill(pid, SIGKILL);
  }
  int raw = 0;
  waitpid(pid, &raw, 0);
  close(out[0]);
  result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
  return result;
}

TEST(ConsoleE2E, CtrlCStopsTheTestCleanly) {
  TempDir dir;
  test::ProcessResult result = InterruptWhenSeen(
      {"--simulate", "--dir", dir.Path(), "test", "--link", "usb"}, kQ1Answer + "\nQ1\n");
  ASSERT_FALSE(result.timedOut);
  EXPECT_EQ(result.status, 0);
  std::vector<std::string> lines = SplitLines(result.out);
  ASSERT_GE(lines.size(), 4u);
  EXPECT_THAT(std::vector<std::string>(lines.end() - 4, lines.end()),
              ElementsAre("The auto send command Eixt!", kDash36, "Close HID MCU OK!", kDash36));
  EXPECT_THAT(FileText(dir), ::testing::EndsWith("----------------------\r"));
  EXPECT_THAT(FileText(dir), ::testing::HasSubstr("\r\rTest Finish Time: "));
}

}  // namespace
}  // namespace morlane
