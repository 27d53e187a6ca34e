// The real morlane program, offscreen: it stays up until ended, and a second start beside
// it raises the first and ends at once.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/window_options.h"
#include "support/process.h"

namespace morlane::gui::test {
namespace {

using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

// morlane in the background, its output discarded; killed if still running at the end.
class Background {
 public:
  explicit Background(const std::vector<std::string>& argv) {
    pid_ = fork();
    if (pid_ == 0) {
      int devnull = open("/dev/null", O_RDWR);
      dup2(devnull, 0);
      dup2(devnull, 1);
      dup2(devnull, 2);
      std::vector<char*> args;
      for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
      args.push_back(nullptr);
      execv(args[0], args.data());
      _exit(127);
    }
  }
  ~Background() {
    if (pid_ > 0 && !Exited(0)) {
      kill(pid_, SIGKILL);
      Exited(2000);
    }
  }
  // Waits up to ms for the end; the exit status is kept.
  bool Exited(int ms) {
    if (status_ >= 0) return true;
    auto deadline = Clock::now() + milliseconds(ms);
    for (;;) {
      int raw = 0;
      if (waitpid(pid_, &raw, WNOHANG) == pid_) {
        status_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
        return true;
      }
      if (Clock::now() >= deadline) return false;
      std::this_thread::sleep_for(milliseconds(10));
    }
  }
  void Signal(int signal) { kill(pid_, signal); }
  int Status() const { return status_; }

 private:
  pid_t pid_ = -1;
  int status_ = -1;
};

std::string Tag(const char* name) {
  return std::string(name) + "." + std::to_string(getpid());
}

// The running instance's socket, as the system lists it.
bool InstanceListening(const std::string& tag) {
  std::ifstream sockets("/proc/net/unix");
  std::string needle = "@Kestrum." + std::to_string(getuid()) + "." + tag;
  std::string line;
  while (std::getline(sockets, line)) {
    if (line.size() >= needle.size() &&
        line.compare(line.size() - needle.size(), needle.size(), needle) == 0) {
      return true;
    }
  }
  return false;
}

bool WaitForInstance(const std::string& tag, Background& process, int ms) {
  auto deadline = Clock::now() + milliseconds(ms);
  while (Clock::now() < deadline) {
    if (InstanceListening(tag)) return true;
    if (process.Exited(0)) return false;
    std::this_thread::sleep_for(milliseconds(20));
  }
  return false;
}

TEST(MorlaneProgram, StaysUpOffscreenUntilEnded) {
  std::string tag = Tag("stays");
  Background first({MORLANE_GUI_PROGRAM, "--simulate", "--instance-tag", tag});
  ASSERT_TRUE(WaitForInstance(tag, first, 10000));
  EXPECT_FALSE(first.Exited(1500));
  // Ended from outside, it still goes through the dialog's clean-up and exits cleanly.
  first.Signal(SIGTERM);
  ASSERT_TRUE(first.Exited(5000));
  EXPECT_EQ(first.Status(), 0);
  EXPECT_FALSE(InstanceListening(tag));
}

TEST(MorlaneProgram, SecondStartRaisesTheFirstAndEndsWithinFiveSeconds) {
  std::string tag = Tag("second");
  Background first({MORLANE_GUI_PROGRAM, "--simulate", "--instance-tag", tag});
  ASSERT_TRUE(WaitForInstance(tag, first, 10000));

  auto started = Clock::now();
  morlane::test::ProcessResult second =
      morlane::test::RunProcess({MORLANE_GUI_PROGRAM, "--simulate", "--instance-tag", tag}, "", 5);
  EXPECT_FALSE(second.timedOut);
  EXPECT_EQ(second.status, 0) << second.err;
  EXPECT_LT(Clock::now() - started, std::chrono::seconds(5));
  EXPECT_TRUE(second.err.find("error") == std::string::npos) << second.err;

  EXPECT_FALSE(first.Exited(500));
  EXPECT_TRUE(InstanceListening(tag));
  first.Signal(SIGTERM);
  EXPECT_TRUE(first.Exited(5000));
}

TEST(MorlaneProgram, UsageErrorsEndWithStatusTwo) {
  morlane::test::ProcessResult result =
      morlane::test::RunProcess({MORLANE_GUI_PROGRAM, "--no-such-option"}, "", 10);
  EXPECT_EQ(result.status, 2);
  EXPECT_NE(result.err.find("no-such-option"), std::string::npos) << result.err;
}

// The Windows window prints the same table's text; the test options stay out of it.
TEST(MorlaneProgram, HelpAndVersionFromTheSharedTable) {
  morlane::test::ProcessResult help =
      morlane::test::RunProcess({MORLANE_GUI_PROGRAM, "--simulate", "--help"}, "", 10);
  EXPECT_EQ(help.status, 0) << help.err;
  EXPECT_EQ(help.out, WindowHelpText());
  EXPECT_NE(help.out.find("--port PATH"), std::string::npos);
  EXPECT_EQ(help.out.find("--screenshot"), std::string::npos);

  // Without any display, as in a terminal over the network.
  for (const char* option : {"--version", "--help"}) {
    morlane::test::ProcessResult answer =
        morlane::test::RunProcess({"/usr/bin/env", "-u", "QT_QPA_PLATFORM", "-u", "DISPLAY", "-u",
                                   "WAYLAND_DISPLAY", MORLANE_GUI_PROGRAM, option},
                                  "", 10);
    EXPECT_EQ(answer.status, 0) << option << ": " << answer.err;
    EXPECT_EQ(answer.out, std::string(option) == "--help"
                              ? WindowHelpText()
                              : std::string("morlane ") + MORLANE_VERSION + "\n");
  }
}

}  // namespace
}  // namespace morlane::gui::test
