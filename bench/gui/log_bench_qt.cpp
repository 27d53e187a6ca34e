// The log list in the Qt window, offscreen: append time per line (the event loop runs
// after every 1000 lines, as it does between a procedure's waits) and process memory at
// 10^4, 10^5 and 10^6 lines; then what one frame of the view costs at each size, and the
// longest pass of the event loop when lines come one per pass (a worker at full speed),
// drawing included.
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "../bench_support.h"
#include "gui/log_view.h"
#include "gui/qt_window.h"
#include "ui/log.h"

namespace {

using morlane::bench::LogLine;
using morlane::bench::ResidentKiB;

// One frame of the view with a new line: the newest selected and scrolled to, the rows in
// view drawn. Median of a few.
double UpdateMs(morlane::gui::QtWindow& window, int& line) {
  std::vector<double> costs;
  for (int i = 0; i < 11; ++i) {
    morlane::AppendLogLine(window, LogLine(line++));
    QElapsedTimer timer;
    timer.start();
    window.Log().SyncNow();
    window.Log().viewport()->repaint();
    costs.push_back(timer.nsecsElapsed() / 1e6);
  }
  std::sort(costs.begin(), costs.end());
  return costs[costs.size() / 2];
}

// Lines one per pass of the event loop for a second, as a worker's lines come: how many
// got through, and how long the longest pass kept the window from its input.
void Sustained(morlane::gui::QtWindow& window, int& line, int* lines, double* worstPassMs) {
  QElapsedTimer elapsed;
  elapsed.start();
  *lines = 0;
  *worstPassMs = 0;
  while (elapsed.elapsed() < 1000) {
    QElapsedTimer pass;
    pass.start();
    morlane::AppendLogLine(window, LogLine(line++));
    QCoreApplication::processEvents();
    *worstPassMs = std::max(*worstPassMs, pass.nsecsElapsed() / 1e6);
    ++*lines;
  }
}

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication application(argc, argv);
  morlane::gui::QtWindow window;
  window.show();
  QCoreApplication::processEvents();
  const long baseline = ResidentKiB();

  std::printf("Qt log list (offscreen; event loop every 1000 lines while filling)\n");
  std::printf("%10s %14s %12s %14s %11s %14s %13s\n", "lines", "append ns/line", "RSS MiB",
              "RSS bytes/line", "frame ms", "lines/s 1/pass", "worst pass ms");
  QElapsedTimer filling;
  qint64 filled = 0;
  int done = 0;
  for (int target : {10000, 100000, 1000000}) {
    filling.start();
    for (; done < target; ++done) {
      morlane::AppendLogLine(window, LogLine(done));
      if (done % 1000 == 999) QCoreApplication::processEvents();
    }
    QCoreApplication::processEvents();
    filled += filling.nsecsElapsed();
    long rss = ResidentKiB();
    int line = done;
    double update = UpdateMs(window, line);
    int sustained = 0;
    double worst = 0;
    Sustained(window, line, &sustained, &worst);
    std::printf("%10d %14.0f %12.1f %14.1f %11.2f %14d %13.2f\n", target,
                static_cast<double>(filled) / target, rss / 1024.0,
                (rss - baseline) * 1024.0 / target, update, sustained, worst);
    done = line;
  }
  return 0;
}
