#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <thread>

#include "platform/clock.h"

namespace morlane {

// A device wait of at most totalMs (a HID report, input on the serial line, room in the
// driver's queue) that lets the clock serve its thread meanwhile. attempt(ms) waits at
// most ms and returns the wait's outcome, 0 when that time passed without one. Where the
// clock serves nothing (worker threads, the command line) it is attempt(totalMs), one
// wait as before. On the window thread it is a run of attempts of at most the clock's
// serve slice against one deadline, the window served between them: whatever arrives at
// any time within totalMs ends the wait as it would have, and the wait ends no later.
template <typename Attempt>
int WaitServing(Clock& clock, int totalMs, Attempt&& attempt) {
  const int slice = clock.ServeSliceMs();
  if (slice <= 0) return attempt(totalMs);
  const int64_t deadline = clock.MonotonicMs() + std::max(totalMs, 0);
  for (;;) {
    const int64_t left = std::max<int64_t>(deadline - clock.MonotonicMs(), 0);
    const int ms = static_cast<int>(std::min<int64_t>(left, slice));
    const int outcome = attempt(ms);
    // The attempt that had the rest of the time is the last, whatever it brought.
    if (outcome != 0 || ms >= left) return outcome;
    clock.ServeWhileWaiting();
  }
}

// Takes a lock that another thread holds through its own device wait (the command test's
// worker through an exchange with the unit), serving the clock's thread meanwhile. The
// holder never waits for this thread while it holds the lock, so the wait ends with its
// exchange, as a plain lock's does.
inline std::unique_lock<std::mutex> LockServing(std::mutex& mutex, Clock& clock) {
  if (clock.ServeSliceMs() <= 0) return std::unique_lock<std::mutex>(mutex);
  std::unique_lock<std::mutex> lock(mutex, std::try_to_lock);
  while (!lock.owns_lock()) {
    clock.ServeWhileWaiting();
    // A short pause between tries: the holder's exchange takes milliseconds at least.
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    lock.try_lock();
  }
  return lock;
}

}  // namespace morlane
