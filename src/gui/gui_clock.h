#pragma once

#include "platform/clock.h"

namespace morlane::gui {

// The clock of the window's procedures. They run on the window thread and wait through
// it; while they wait, the window keeps painting (log lines, the percentage, the progress
// bar) and serves worker requests, but takes no user input. On any other thread it is
// the clock underneath.
class GuiClock : public Clock {
 public:
  explicit GuiClock(Clock& base = RealClock()) : base_(base) {}

  void SleepMs(int ms) override;
  int64_t MonotonicMs() override { return base_.MonotonicMs(); }
  int64_t CalendarSeconds() override { return base_.CalendarSeconds(); }
  LocalTime Now() override { return base_.Now(); }
  bool WaitFor(std::condition_variable& cv, std::unique_lock<std::mutex>& lock, int ms,
               const std::function<bool()>& ready) override;

  // Paints and serves what is waiting, without user input, and returns.
  static void KeepWindowAlive();

 private:
  Clock& base_;
};

}  // namespace morlane::gui
