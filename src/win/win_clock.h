#pragma once

#include "ui/window_clock.h"
#include "win/win32.h"

namespace morlane::win {

// The window's own messages: worker requests to serve, a deferred close. They are
// delivered while a procedure waits, as painting is.
inline constexpr UINT kServeRequestsMessage = WM_APP + 1;
inline constexpr UINT kCloseRequestMessage = WM_APP + 2;
// From a later start that was given options: they were not applied here.
inline constexpr UINT kOptionsNotAppliedMessage = WM_APP + 3;
inline constexpr UINT kFirstPrivateMessage = WM_APP;
inline constexpr UINT kLastPrivateMessage = WM_APP + 15;

// The clock of the window's procedures. They run on the window thread and wait through
// it; while they wait, the thread's windows keep painting (log lines, the percentage, the
// progress bar), timers fire and worker requests are served, but no input is taken: it
// stays queued, and the window drops it once the procedure is over. On any other thread
// it is the clock underneath.
class WinClock : public WindowClock {
 public:
  // The window thread is the one that makes the clock.
  explicit WinClock(Clock& base = RealClock());

  void SleepMs(int ms) override;

  // Delivers what is waiting for this thread's windows, paint, timers and the window's
  // own messages only, and returns.
  static void KeepWindowAlive();
  // Waits at most ms for one of those to arrive.
  static void WaitForWindowWork(int ms);

  // Longest stretch without painting while a procedure waits.
  static constexpr int kPaintSliceMs = 15;

 protected:
  bool OnWindowThread() const override { return GetCurrentThreadId() == windowThread_; }
  void ServeWindow() override { KeepWindowAlive(); }
  int PaintSliceMs() const override { return kPaintSliceMs; }

 private:
  DWORD windowThread_;
};

}  // namespace morlane::win
