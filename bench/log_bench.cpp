// The log list without a window: append time per line and process memory at 10^4, 10^5
// and 10^6 lines, and the cost of one more line once a million are there.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include "ui/hscroll_listbox.h"
#include "ui/log.h"

namespace {

using Clock = std::chrono::steady_clock;

long ResidentKiB() {
  long pages = 0, resident = 0;
  std::FILE* statm = std::fopen("/proc/self/statm", "r");
  if (!statm) return -1;
  if (std::fscanf(statm, "%ld %ld", &pages, &resident) != 2) resident = -1;
  std::fclose(statm);
  return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

// Lines like a programming run writes them, of varying length.
std::string LogLine(int i) {
  switch (i % 4) {
    case 0:
      return morlane::FormatText("Burn block %d at 0x%06X OK", i, (i * 256) & 0xFFFFFF);
    case 1:
      return morlane::FormatText("%d %%", i % 101);
    case 2:
      return morlane::FormatText("Q1 answer: (230.4 229.8 230.1 012 50.1 2.27 34.0 %08d", i);
    default:
      return "------------------------------------";
  }
}

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
