#include "support/virtual_clock.h"

#include <numeric>

namespace morlane::test {

void VirtualClock::SleepMs(int ms) {
  sleeps_.push_back(ms);
  if (ms > 0) nowMs_ += ms;
}

bool VirtualClock::WaitFor(std::condition_variable&, std::unique_lock<std::mutex>&, int ms,
                           const std::function<bool()>& ready) {
  if (ready()) return true;
  if (ms > 0) nowMs_ += ms;
  return ready();
}

int64_t VirtualClock::TotalSleptMs() const {
  return std::accumulate(sleeps_.begin(), sleeps_.end(), int64_t{0});
}

}  // namespace morlane::test
