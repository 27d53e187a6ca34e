#pragma once

#include <atomic>
#include <vector>

#include "platform/clock.h"

namespace morlane::test {

// A clock that only moves when someone waits on it: every sleep and every wait that
// does not come true advances it at once. Sleeps are recorded for the tests.
class VirtualClock : public Clock {
 public:
  void SleepMs(int ms) override;
  int64_t MonotonicMs() override { return nowMs_; }
  int64_t CalendarSeconds() override { return epochSeconds_ + nowMs_ / 1000; }
  LocalTime Now() override { return localTime_; }
  bool WaitFor(std::condition_variable& cv, std::unique_lock<std::mutex>& lock, int ms,
               const std::function<bool()>& ready) override;

  void Advance(int64_t ms) { nowMs_ += ms; }
  void SetLocalTime(LocalTime time) { localTime_ = time; }
  const std::vector<int>& Sleeps() const { return sleeps_; }
  int64_t TotalSleptMs() const;

 private:
  std::atomic<int64_t> nowMs_{0};
  int64_t epochSeconds_ = 1'700'000'000;
  LocalTime localTime_{2012, 4, 12, 9, 5, 3};
  std::vector<int> sleeps_;
};

}  // namespace morlane::test
