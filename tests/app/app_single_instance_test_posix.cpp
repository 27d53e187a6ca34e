// The single-instance rule inside one process: two application objects with the same tag
// stand for two starts of the tool.
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string>

#include "app/kestrum_app.h"

namespace morlane {
namespace {

using Clock = std::chrono::steady_clock;

// A tag of its own for every case, so that parallel runs and a tool window that happens
// to be open never meet.
std::string FreshTag() {
  static std::atomic<int> counter{0};
  return "test." + std::to_string(getpid()) + "." + std::to_string(counter++);
}

class Activations {
 public:
  std::function<void()> Handler() {
    return [this] {
      std::lock_guard lock(mutex_);
      ++count_;
      changed_.notify_all();
    };
  }
  bool WaitFor(int count, int ms = 3000) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(ms), [&] { return count_ >= count; });
  }
  int Count() {
    std::lock_guard lock(mutex_);
    return count_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  int count_ = 0;
};

// A raw client of the running instance's socket, for the peers that do not behave.
int ConnectRaw(const std::string& name) {
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path + 1, name.data(), name.size());
  socklen_t length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), length) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

TEST(SingleInstance, SecondStartRaisesTheFirstAndEnds) {
  std::string tag = FreshTag();
  Activations raised;
  CKestrumApp first(tag);
  ASSERT_EQ(first.InitInstance(), CKestrumApp::Start::First);
  first.SetActivateHandler(raised.Handler());

  auto started = Clock::now();
  CKestrumApp second(tag);
  EXPECT_EQ(second.InitInstance(), CKestrumApp::Start::Second);
  EXPECT_LT(Clock::now() - started, std::chrono::seconds(1));
  EXPECT_TRUE(raised.WaitFor(1));

  // Every later start raises the window again.
  CKestrumApp third(tag);
  EXPECT_EQ(third.InitInstance(), CKestrumApp::Start::Second);
  EXPECT_TRUE(raised.WaitFor(2));
  EXPECT_EQ(raised.Count(), 2);
}

TEST(SingleInstance, NameIsFreeAgainOnceTheInstanceEnds) {
  std::string tag = FreshTag();
  {
    CKestrumApp first(tag);
    ASSERT_EQ(first.InitInstance(), CKestrumApp::Start::First);
  }
  CKestrumApp next(tag);
  EXPECT_EQ(next.InitInstance(), CKestrumApp::Start::First);
  next.Stop();
  CKestrumApp after(tag);
  EXPECT_EQ(after.InitInstance(), CKestrumApp::Start::First);
}

TEST(SingleInstance, TagsAndUsersKeepInstancesApart) {
  CKestrumApp a(FreshTag());
  CKestrumApp b(FreshTag());
  EXPECT_EQ(a.InitInstance(), CKestrumApp::Start::First);
  EXPECT_EQ(b.InitInstance(), CKestrumApp::Start::First);
  EXPECT_NE(a.Name(), b.Name());
  EXPECT_NE(a.Name().find("Kestrum." + std::to_string(getuid())), std::string::npos);
}

TEST(SingleInstance, StartBeforeTheWindowExistsIsHandedOnOnce) {
  std::string tag = FreshTag();
  CKestrumApp first(tag);
  ASSERT_EQ(first.InitInstance(), CKestrumApp::Start::First);
  for (int i = 0; i < 2; ++i) {
    CKestrumApp early(tag);
    EXPECT_EQ(early.InitInstance(), CKestrumApp::Start::Second);
  }
  Activations raised;
  first.SetActivateHandler(raised.Handler());
  EXPECT_TRUE(raised.WaitFor(1));
  EXPECT_EQ(raised.Count(), 1);
}

TEST(SingleInstance, AStartWithOptionsIsToldToTheRunningInstance) {
  std::string tag = FreshTag();
  CKestrumApp first(tag);
  ASSERT_EQ(first.InitInstance(), CKestrumApp::Start::First);
  {
    CKestrumApp early(tag);  // before the window is there: handed on later
    EXPECT_EQ(early.InitInstance(true), CKestrumApp::Start::Second);
  }
  Activations raised, notApplied;
  first.SetOptionsNotAppliedHandler(notApplied.Handler());
  first.SetActivateHandler(raised.Handler());
  EXPECT_TRUE(notApplied.WaitFor(1));
  CKestrumApp plain(tag);
  EXPECT_EQ(plain.InitInstance(false), CKestrumApp::Start::Second);
  EXPECT_TRUE(raised.WaitFor(2));
  CKestrumApp withOptions(tag);
  EXPECT_EQ(withOptions.InitInstance(true), CKestrumApp::Start::Second);
  EXPECT_TRUE(raised.WaitFor(3));
  EXPECT_EQ(notApplied.Count(), 2);
}

TEST(SingleInstance, SilentOrGarbledPeersNeitherRaiseNorBlock) {
  std::string tag = FreshTag();
  Activations raised;
  CKestrumApp first(tag);
  ASSERT_EQ(first.InitInstance(), CKestrumApp::Start::First);
  first.SetActivateHandler(raised.Handler());

  int garbled = ConnectRaw(first.Name());
  ASSERT_GE(garbled, 0);
  ASSERT_EQ(write(garbled, "hello\n", 6), 6);
  int silent = ConnectRaw(first.Name());
  ASSERT_GE(silent, 0);

  // The silent peer holds the instance for its bounded wait; the real start behind it is
  // still answered well within its own wait.
  auto started = Clock::now();
  CKestrumApp second(tag);
  EXPECT_EQ(second.InitInstance(), CKestrumApp::Start::Second);
  EXPECT_LT(Clock::now() - started, std::chrono::milliseconds(CKestrumApp::kAnswerWaitMs + 500));
  EXPECT_TRUE(raised.WaitFor(1));
  EXPECT_EQ(raised.Count(), 1);
  close(garbled);
  close(silent);
}

TEST(SingleInstance, StopWhileAPeerIsConnectedReturns) {
  std::string tag = FreshTag();
  CKestrumApp first(tag);
  ASSERT_EQ(first.InitInstance(), CKestrumApp::Start::First);
  int silent = ConnectRaw(first.Name());
  ASSERT_GE(silent, 0);
  auto started = Clock::now();
  first.Stop();
  EXPECT_LT(Clock::now() - started, std::chrono::milliseconds(CKestrumApp::kRequestWaitMs + 500));
  close(silent);
  EXPECT_LT(ConnectRaw(first.Name()), 0);
}

}  // namespace
}  // namespace morlane
