#pragma once

#include <algorithm>

#include "platform/clock.h"

namespace morlane {

// The clock of procedures that run on the window thread and wait through it: while they
// wait, the window keeps painting (log lines, the percentage, the progress bar) and serves
// worker requests, but takes no input. On any other thread it is the clock underneath.
// Each window supplies how its thread is told apart and how it is kept alive.
class WindowClock : public Clock {
 public:
  explicit WindowClock(Clock& base) : base_(base) {}

  int64_t MonotonicMs() override { return base_.MonotonicMs(); }
  int64_t CalendarSeconds() override { return base_.CalendarSeconds(); }
  LocalTime Now() override { return base_.Now(); }
  // In slices, with the lock given up while the window is served: what the window thread
  // runs meanwhile may need it.
  bool WaitFor(std::condition_variable& cv, std::unique_lock<std::mutex>& lock, int ms,
               const std::function<bool()>& ready) override;
  // Device waits on the window thread go in slices, the window served between them; on
  // any other thread they stay whole.
  int ServeSliceMs() const override {
    return OnWindowThread() ? std::min(PaintSliceMs(), kMostDeviceSliceMs) : 0;
  }
  void ServeWhileWaiting() override {
    if (OnWindowThread()) ServeWindow();
  }

  // A device slice and the serving after it stay well inside the longest stretch a
  // technician sees as a frozen window.
  static constexpr int kMostDeviceSliceMs = 15;

 protected:
  virtual bool OnWindowThread() const = 0;
  // Paints and serves what is waiting, without user input, and returns.
  virtual void ServeWindow() = 0;
  // Longest stretch without painting while a procedure waits.
  virtual int PaintSliceMs() const = 0;

  Clock& base_;
};

}  // namespace morlane
