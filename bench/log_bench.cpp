// The log list without a window: append time per line and process memory at 10^4, 10^5
// and 10^6 lines, and the cost of one more line once a million are there.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include "bench_support.h"
#include "ui/hscroll_listbox.h"
#include "ui/log.h"

namespace {

using morlane::bench::LogLine;
using morlane::bench::ResidentKiB;

using Clock = std::chrono::steady_clock;

}  // namespace

int main() {
  morlane::FixedWidthMeasurer measurer(8);
  morlane::CHScrollListBox list(&measurer);
  const long baseline = ResidentKiB();
  std::printf("headless log list (fixed-width measure)\n");
  std::printf("%10s %14s %14s %12s %14s\n", "lines", "append ns/line", "segment ns/l", "RSS MiB",
              "RSS bytes/line");
  auto start = Clock::now();
  auto segmentStart = start;
  int done = 0;
  int previous = 0;
  size_t textBytes = 0;
  for (int target : {10000, 100000, 1000000}) {
    for (; done < target; ++done) {
      std::string line = LogLine(done);
      textBytes += line.size();
      list.InsertString(list.GetCount(), line);
    }
    auto now = Clock::now();
    double total = std::chrono::duration<double, std::nano>(now - start).count() / target;
    double segment =
        std::chrono::duration<double, std::nano>(now - segmentStart).count() / (target - previous);
    previous = target;
    long rss = ResidentKiB();
    std::printf("%10d %14.0f %14.0f %12.1f %14.1f\n", target, total, segment, rss / 1024.0,
                (rss - baseline) * 1024.0 / target);
    segmentStart = now;
  }
  std::printf("text %.1f bytes/line on average\n", static_cast<double>(textBytes) / done);

  // One more line at a million: a single measurement, never a rescan.
  std::vector<double> singles;
  for (int i = 0; i < 1000; ++i) {
    auto before = Clock::now();
    list.InsertString(list.GetCount(), LogLine(i));
    singles.push_back(std::chrono::duration<double, std::nano>(Clock::now() - before).count());
  }
  std::sort(singles.begin(), singles.end());
  std::printf("append at 10^6 lines: median %.0f ns, worst %.0f ns\n", singles[500],
              singles.back());
  return 0;
}
