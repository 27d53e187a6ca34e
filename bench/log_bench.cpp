// The log list without a window: append time per line and process memory at 10^4, 10^5
// and 10^6 lines, and the cost of one more line once a million are there. Then the cost of
// the run's events on a line: appended through the window the procedures see, with nobody
// listening and with the events written as NDJSON (to the null device), against the
// headless window itself.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include "app/headless_window.h"
#include "bench_support.h"
#include "ui/event_file.h"
#include "ui/hscroll_listbox.h"
#include "ui/log.h"
#include "ui/reporting_window.h"

namespace {

using morlane::bench::LogLine;
using morlane::bench::ResidentKiB;

using Clock = std::chrono::steady_clock;

// ns per line for 10^5 lines through AppendLogLine on window.
double AppendNs(morlane::Window& window) {
  constexpr int kLines = 100000;
  auto start = Clock::now();
  for (int i = 0; i < kLines; ++i) morlane::AppendLogLine(window, LogLine(i));
  return std::chrono::duration<double, std::nano>(Clock::now() - start).count() / kLines;
}

void EventCost() {
  std::FILE* null = std::fopen("/dev/null", "w");
  if (!null) return;
  morlane::EventFile file(null);
  morlane::EventRelay relay;
  double plain = 0;
  double silent = 0;
  double written = 0;
  // Best of three, each on a fresh window, so that the list's growth weighs the same.
  for (int round = 0; round < 3; ++round) {
    morlane::HeadlessWindow bare;
    morlane::HeadlessWindow quiet;
    morlane::ReportingWindow unheard(quiet, relay);
    morlane::HeadlessWindow heard;
    morlane::ReportingWindow reported(heard, relay);
    const double p = AppendNs(bare);
    relay.Listen(nullptr);
    const double s = AppendNs(unheard);
    relay.Listen(&file);
    const double w = AppendNs(reported);
    relay.Listen(nullptr);
    plain = round == 0 ? p : std::min(plain, p);
    silent = round == 0 ? s : std::min(silent, s);
    written = round == 0 ? w : std::min(written, w);
  }
  std::fclose(null);
  std::printf("append through the headless window: %.0f ns/line\n", plain);
  std::printf("  with the events' seam, nobody listening: %.0f ns/line (%+.1f %%)\n", silent,
              (silent - plain) / plain * 100.0);
  std::printf("  with every line written as an NDJSON event: %.0f ns/line (%+.1f %%)\n", written,
              (written - plain) / plain * 100.0);
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
  EventCost();
  return 0;
}
