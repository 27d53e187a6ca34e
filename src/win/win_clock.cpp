#include "win/win_clock.h"

#include <algorithm>

namespace morlane::win {

namespace {

// A window that never validates its update region must not hold the thread.
constexpr int kMostPerRange = 64;

void Deliver(UINT first, UINT last) {
  MSG msg;
  for (int n = 0; n < kMostPerRange && PeekMessageW(&msg, nullptr, first, last, PM_REMOVE); ++n) {
    DispatchMessageW(&msg);
  }
}

}  // namespace

WinClock::WinClock(Clock& base) : WindowClock(base), windowThread_(GetCurrentThreadId()) {}

void WinClock::KeepWindowAlive() {
  Deliver(kFirstPrivateMessage, kLastPrivateMessage);
  Deliver(WM_TIMER, WM_TIMER);
  Deliver(WM_PAINT, WM_PAINT);
}

void WinClock::WaitForWindowWork(int ms) {
  // Input is left out: it does not end the wait, and it is not taken.
  MsgWaitForMultipleObjectsEx(0, nullptr, static_cast<DWORD>(std::max(ms, 0)),
                              QS_PAINT | QS_TIMER | QS_POSTMESSAGE | QS_SENDMESSAGE, 0);
}

void WinClock::SleepMs(int ms) {
  if (!OnWindowThread()) {
    base_.SleepMs(ms);
    return;
  }
  const int64_t deadline = base_.MonotonicMs() + std::max(ms, 0);
  for (;;) {
    KeepWindowAlive();
    int64_t left = deadline - base_.MonotonicMs();
    if (left <= 0) return;
    WaitForWindowWork(static_cast<int>(std::min<int64_t>(left, kPaintSliceMs)));
  }
}

}  // namespace morlane::win
