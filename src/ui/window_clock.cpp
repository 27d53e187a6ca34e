#include "ui/window_clock.h"

#include <algorithm>

namespace morlane {

bool WindowClock::WaitFor(std::condition_variable& cv, std::unique_lock<std::mutex>& lock, int ms,
                          const std::function<bool()>& ready) {
  if (!OnWindowThread()) return base_.WaitFor(cv, lock, ms, ready);
  const int64_t deadline = base_.MonotonicMs() + std::max(ms, 0);
  for (;;) {
    int64_t left = deadline - base_.MonotonicMs();
    int slice = static_cast<int>(std::clamp<int64_t>(left, 0, PaintSliceMs()));
    if (base_.WaitFor(cv, lock, slice, ready)) return true;
    if (left <= 0) return ready();
    lock.unlock();
    ServeWindow();
    lock.lock();
  }
}

}  // namespace morlane
