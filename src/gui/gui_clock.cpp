#include "gui/gui_clock.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>
#include <QTimer>

#include <algorithm>

namespace morlane::gui {

bool GuiClock::OnWindowThread() const {
  QCoreApplication* app = QCoreApplication::instance();
  return app && QThread::currentThread() == app->thread();
}

void GuiClock::KeepWindowAlive() {
  QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void GuiClock::SleepMs(int ms) {
  if (!OnWindowThread()) {
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

}  // namespace morlane::gui
