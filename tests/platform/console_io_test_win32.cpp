// Console events as Windows delivers them to a station that is running units.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <optional>
#include <thread>

#include "platform/console_io.h"

namespace morlane {
namespace {

template <typename Done>
bool WaitUntil(Done done, int ms) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (!done()) {
    if (std::chrono::steady_clock::now() >= end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

// Ctrl-C is one press and handled at once; closing the console window (or logging off,
// shutting down) stops everything at once and holds the process, which Windows ends as soon
// as the handler returns, until the station has kept its records.
TEST(StopRequests, AConsoleClosedStopsEverythingAndWaitsForTheRecords) {
  for (DWORD event : {CTRL_CLOSE_EVENT, CTRL_LOGOFF_EVENT, CTRL_SHUTDOWN_EVENT}) {
    std::atomic<int> presses{0};
    std::atomic<bool> returned{false};
    std::thread system;
    {
      StopRequests requests(presses);
      EXPECT_TRUE(DeliverConsoleEvent(CTRL_C_EVENT));
      EXPECT_EQ(presses.load(), 1);
      system = std::thread([&] {
        DeliverConsoleEvent(event);
        returned = true;
      });
      EXPECT_TRUE(WaitUntil([&] { return presses.load() == 3; }, 2000)) << event;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      EXPECT_FALSE(returned.load()) << "returned before the records were kept: " << event;
    }
    EXPECT_TRUE(WaitUntil([&] { return returned.load(); }, 2000)) << event;
    system.join();
  }
  // Without a station running, the system's own handling stands.
  EXPECT_FALSE(DeliverConsoleEvent(CTRL_CLOSE_EVENT));
}

}  // namespace
}  // namespace morlane
