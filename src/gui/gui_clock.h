#pragma once

#include "ui/window_clock.h"

namespace morlane::gui {

// The clock of the window's procedures. They run on the window thread and wait through
// it; while they wait, the window keeps painting (log lines, the percentage, the progress
// bar) and serves worker requests, but takes no user input. On any other thread it is
// the clock underneath.
class GuiClock : public WindowClock {
 public:
  explicit GuiClock(Clock& base = RealClock()) : WindowClock(base) {}

  void SleepMs(int ms) override;

  // Paints and serves what is waiting, without user input, and returns.
  static void KeepWindowAlive();

 protected:
  bool OnWindowThread() const override;
  void ServeWindow() override { KeepWindowAlive(); }
  // Short enough that a log line or the bar appears without a visible lag.
  int PaintSliceMs() const override { return 20; }
};

}  // namespace morlane::gui
