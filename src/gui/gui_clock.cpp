#include "gui/gui_clock.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>
#include <QTimer>

#include <algorithm>

namespace morlane::gui {

namespace {

bool OnGuiThread() {
  QCoreApplication* app = QCoreApplication::instance();
  return app && QThread::currentThread() == app->thread();
}

// Short enough that a log line or the bar appears without a visible lag.
constexpr int kPaintSliceMs = 20;

}  // namespace

void GuiClock::KeepWindowAlive() {
  QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void GuiClock::SleepMs(int ms) {
  if (!OnGuiThread()) {
    base_.SleepMs(ms);
    return;
  }
  if (ms <= 0) {
    KeepWindowAlive();
    return;
  }
  QEventLoop loop;
  QTimer::singleShot(ms, Qt::PreciseTimer, &loop, &QEventLoop::quit);
  loop.exec(QEventLoop::ExcludeUserInputEvents);
}

bool GuiClock::WaitFor(std::condition_variable& cv, std::unique_lock<std::mutex>& lock, int ms,
                       const std::function<bool()>& ready) {
  if (!OnGuiThread()) return base_.WaitFor(cv, lock, ms, ready);
  // In slices, with the lock given up while the window is served: what the window thread
  // runs meanwhile may need it.
  int64_t deadline = base_.MonotonicMs() + std::max(ms, 0);
  for (;;) {
    int64_t left = deadline - base_.MonotonicMs();
    if (base_.WaitFor(cv, lock, static_cast<int>(std::clamp<int64_t>(left, 0, kPaintSliceMs)),
                      ready)) {
      return true;
    }
    if (left <= 0) return ready();
    lock.unlock();
    KeepWindowAlive();
    lock.lock();
  }
}

}  // namespace morlane::gui
