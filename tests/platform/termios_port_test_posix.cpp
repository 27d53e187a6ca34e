// The termios layer over pseudo-terminal pairs: the real calls a serial cable gets.
#include "platform/termios_port.h"

#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/wait.h>

#include "platform/pty_pair_fixture.h"
#include "support/process.h"

namespace morlane {
namespace {

using test::ElapsedMs;
using test::PtyPair;
using Steady = std::chrono::steady_clock;

std::unique_ptr<SerialPort> OpenAt(const std::string& path, int baud) {
  PortOpenError error = PortOpenError::Other;
  std::unique_ptr<SerialPort> port = OpenTermiosPort(path, &error);
  EXPECT_TRUE(port) << PortOpenErrorText(error);
  EXPECT_EQ(error, PortOpenError::None);
  if (port) {
    EXPECT_TRUE(port->SetLine(baud));
  }
  return port;
}

TEST(TermiosPort, QueuedBytesAndReadsOfAtMostN) {
  PtyPair pair;
  ASSERT_TRUE(pair.Ok());
  auto port = OpenAt(pair.path, 9600);
  ASSERT_TRUE(port);
  uint8_t buffer[64] = {};
  EXPECT_EQ(port->QueuedBytes(), 0);
  EXPECT_EQ(port->Read(buffer, 10), 0);  // nothing queued: at once, no wait

  pair.Send("0123456789abcdefghijklmno");  // 25 bytes
  ASSERT_TRUE(test::WaitQueued(*port, 25));
  EXPECT_EQ(port->Read(buffer, 10), 10);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 10), "0123456789");
  EXPECT_EQ(port->QueuedBytes(), 15);
  EXPECT_EQ(port->Read(buffer, 64), 15);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 15), "abcdefghijklmno");
  EXPECT_EQ(port->QueuedBytes(), 0);
}

TEST(TermiosPort, RawEightBitBothWays) {
  PtyPair pair;
  ASSERT_TRUE(pair.Ok());
  auto port = OpenAt(pair.path, 19200);
  ASSERT_TRUE(port);
  // Carriage returns, line feeds, XON/XOFF and bytes above 0x7F pass untouched.
  const std::string bytes{"\r\n\x11\x13\x00\xff\x7f\x03", 8};
  EXPECT_EQ(port->Write(reinterpret_cast<const uint8_t*>(bytes.data()), 8, 1000), 8);
  EXPECT_EQ(pair.Received(8), bytes);
  pair.Send(bytes);
  ASSERT_TRUE(test::WaitQueued(*port, 8));
  uint8_t got[8] = {};
  EXPECT_EQ(port->Read(got, 8), 8);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(got), 8), bytes);

  termios settings{};
  tcgetattr(pair.master, &settings);
  EXPECT_EQ(settings.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  EXPECT_EQ(settings.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
  EXPECT_EQ(settings.c_iflag & (IXON | IXOFF), 0u);
}

TEST(TermiosPort, BaudChangesReachTheOtherSide) {
  PtyPair pair;
  ASSERT_TRUE(pair.Ok());
  auto port = OpenAt(pair.path, 9600);
  ASSERT_TRUE(port);
  EXPECT_EQ(pair.MasterSpeed(), static_cast<speed_t>(B9600));
  EXPECT_TRUE(port->SetLine(19200));
  EXPECT_EQ(pair.MasterSpeed(), static_cast<speed_t>(B19200));
  EXPECT_TRUE(port->SetLine(115200));
  EXPECT_EQ(pair.MasterSpeed(), static_cast<speed_t>(B115200));
  // A rate no driver knows is refused and the line keeps its speed.
  EXPECT_FALSE(port->SetLine(12345));
  EXPECT_EQ(pair.MasterSpeed(), static_cast<speed_t>(B115200));
}

TEST(TermiosPort, ExclusiveUseAgainstASecondOpener) {
  PtyPair pair;
  ASSERT_TRUE(pair.Ok());
  PortOpenError error = PortOpenError::None;
  auto first = OpenTermiosPort(pair.path, &error);
  ASSERT_TRUE(first);
  // This test may run as root, whom the terminal's exclusive flag lets through: the lock
  // keeps the second opener out all the same.
  EXPECT_FALSE(OpenTermiosPort(pair.path, &error));
  EXPECT_EQ(error, PortOpenError::Busy);
  int exclusive = 0;
  ASSERT_EQ(ioctl(pair.slave, TIOCGEXCL, &exclusive), 0);
  EXPECT_EQ(exclusive, 1);

  // Both are released on close: the flag that outlives descriptors included.
  first.reset();
  ASSERT_EQ(ioctl(pair.slave, TIOCGEXCL, &exclusive), 0);
  EXPECT_EQ(exclusive, 0);
  auto again = OpenTermiosPort(pair.path, &error);
  EXPECT_TRUE(again);
  EXPECT_EQ(error, PortOpenError::None);
}

TEST(TermiosPort, PortLockedByAnotherProgramIsBusy) {
  PtyPair pair;
  ASSERT_TRUE(pair.Ok());
  int other = ::open(pair.path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(other, 0);
  ASSERT_EQ(flock(other, LOCK_EX | LOCK_NB), 0);
  PortOpenError error = PortOpenError::None;
  EXPECT_FALSE(OpenTermiosPort(pair.path, &error));
  EXPECT_EQ(error, PortOpenError::Busy);
  ::close(other);
  EXPECT_TRUE(OpenTermiosPort(pair.path, &error));
}

TEST(TermiosPort, OpenErrorsAreToldApart) {
  PortOpenError error = PortOpenError::None;
  EXPECT_FALSE(OpenTermiosPort("/does/not/exist", &error));
  EXPECT_EQ(error, PortOpenError::NotFound);
  EXPECT_FALSE(OpenTermiosPort("", &error));
  EXPECT_EQ(error, PortOpenError::NotFound);

  test::TempDir dir;
  dir.Write("plain", std::string("not a terminal"));
  EXPECT_FALSE(OpenTermiosPort(dir.File("plain"), &error));
  EXPECT_EQ(error, PortOpenError::Unconfigurable);

  // Permission: a user outside the port's group, as a technician not in dialout is.
  PtyPair pair;
  ASSERT_TRUE(pair.Ok());
  ASSERT_EQ(chmod(pair.path.c_str(), 0600), 0);
  pid_t child = fork();
  if (child == 0) {
    if (getuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(3);
    PortOpenError why = PortOpenError::None;
    bool opened = OpenTermiosPort(pair.path, &why) != nullptr;
    _exit(!opened && why == PortOpenError::PermissionDenied ? 0 : 1);
  }
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  if (WEXITSTATUS(status) == 3) GTEST_SKIP() << "cannot change to an unprivileged user";
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_STREQ(PortOpenErrorText(PortOpenError::PermissionDenied), "permission denied");
}

TEST(TermiosPort, InputThatCameWhileClosedIsDiscardedOnOpen) {
  PtyPair pair;
  ASSERT_TRUE(pair.Ok());
  pair.Send("stale");
  int queued = 0;
  for (int i = 0; i < 100 && queued < 5; ++i) {
    usleep(2000);
    ioctl(pair.slave, FIONREAD, &queued);
  }
  ASSERT_EQ(queued, 5) << "the stale bytes never reached the port";
  auto port = OpenAt(pair.path, 9600);
  ASSERT_TRUE(port);
  EXPECT_EQ(port->QueuedBytes(), 0);
}

TEST(TermiosPort, WaitReadableReturnsOnInputAndOtherwiseAfterItsTimeOut) {
  PtyPair pair;
  ASSERT_TRUE(pair.Ok());
  auto port = OpenAt(pair.path, 9600);
  ASSERT_TRUE(port);
  auto start = Steady::now();
  EXPECT_FALSE(port->WaitReadable(120));
  EXPECT_GE(ElapsedMs(start), 110);
  pair.Send("x");
  start = Steady::now();
  EXPECT_TRUE(port->WaitReadable(2000));
  EXPECT_LT(ElapsedMs(start), 1000);
}

TEST(TermiosPort, FullDriverQueueBoundsTheWrite) {
  PtyPair pair;
  ASSERT_TRUE(pair.Ok());
  auto port = OpenAt(pair.path, 9600);
  ASSERT_TRUE(port);
  // Nobody reads the other side: the write hands over what fits and gives up at its
  // time-out instead of blocking.
  std::vector<uint8_t> block(1 << 20, 0x55);
  auto start = Steady::now();
  int handed = port->Write(block.data(), static_cast<int>(block.size()), 150);
  EXPECT_GT(handed, 0);
  EXPECT_LT(handed, static_cast<int>(block.size()));
  EXPECT_GE(ElapsedMs(start), 140);
  EXPECT_LT(ElapsedMs(start), 1500);
}

TEST(TermiosPort, OtherSideGoneMakesCallsFailWithoutBlocking) {
  PtyPair pair;
  ASSERT_TRUE(pair.Ok());
  auto port = OpenAt(pair.path, 9600);
  ASSERT_TRUE(port);
  pair.CloseMaster();  // the adapter is pulled

  uint8_t byte = 0x41;
  EXPECT_EQ(port->QueuedBytes(), -1);
  EXPECT_EQ(port->Read(&byte, 1), -1);
  EXPECT_EQ(port->Write(&byte, 1, 1000), -1);
  EXPECT_FALSE(port->SetLine(9600));
  // The wait is served out, neither returned at once nor overrun.
  auto start = Steady::now();
  int64_t cpuBefore = test::ThreadCpuMs();
  for (int i = 0; i < 5; ++i) EXPECT_FALSE(port->WaitReadable(40));
  EXPECT_GE(ElapsedMs(start), 190);
  EXPECT_LT(ElapsedMs(start), 1000);
  EXPECT_LT(test::ThreadCpuMs() - cpuBefore, 50);
}

}  // namespace
}  // namespace morlane
