// The log list in the Win32 window, filled to 10^6 lines: lines come in bursts of 1000
// from a procedure on the window thread, with a pass of the message loop after each
// burst, and one at a time from a worker (the command test's), each carried to the
// window thread by a pass of its own. Reports the cost of a line, the longest pass of the
// message loop (the time the window takes no input and paints nothing; more than 16 ms
// is a frame lost) and the memory a line costs.
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "../bench_lines.h"
#include "ui/control_ids.h"
#include "ui/log.h"
#include "win/win32.h"
#include "win/win_window.h"

// After the system headers it needs.
#include <psapi.h>

namespace {

using morlane::AppendLogLine;
using morlane::bench::LogLine;
using morlane::win::Win32Window;

constexpr int kBurst = 1000;

double NowMs() {
  static const double perMs = [] {
    LARGE_INTEGER frequency{};
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(frequency.QuadPart) / 1000.0;
  }();
  LARGE_INTEGER now{};
  QueryPerformanceCounter(&now);
  return static_cast<double>(now.QuadPart) / perMs;
}

double PrivateMiB() {
  // The commit charge, which is the process's private memory.
  PROCESS_MEMORY_COUNTERS counters{};
  counters.cb = sizeof counters;
  GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
  return static_cast<double>(counters.PagefileUsage) / (1024.0 * 1024.0);
}

// The window's message loop, one message per pass as RunMessageLoop takes them, timing
// every pass.
class Loop {
 public:
  explicit Loop(Win32Window& window) : window_(window) {}

  // Serves every message waiting now.
  void ServeWaiting() {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      const double started = NowMs();
      if (!window_.PreTranslate(msg)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
      }
      const double took = NowMs() - started;
      if (took > worstMs_) {
        worstMs_ = took;
        char name[64] = {};
        GetClassNameA(msg.hwnd, name, sizeof name);
        worstWhat_ = std::to_string(msg.message) + " to " + name;
      }
      if (took > 16.0) ++slowPasses_;
      if (took >= 0.5) busyPasses_.push_back(took);
      ++passes_;
    }
  }
  // Serves the window until done() holds, waiting for its messages in between.
  template <typename Done>
  void ServeUntil(Done done) {
    while (!done()) {
      ServeWaiting();
      if (!done()) MsgWaitForMultipleObjects(0, nullptr, FALSE, 1, QS_ALLINPUT);
    }
  }
  double TakeWorstMs() { return std::exchange(worstMs_, 0.0); }
  // The median and the 99th percentile of the passes that did some work (0.5 ms or
  // more: those that showed lines or painted), in ms.
  std::string TakeBusyPasses() {
    std::vector<double> passes = std::exchange(busyPasses_, {});
    if (passes.empty()) return "none";
    std::sort(passes.begin(), passes.end());
    char text[64];
    std::snprintf(text, sizeof text, "%zu, median %.2f, p99 %.2f", passes.size(),
                  passes[passes.size() / 2], passes[passes.size() * 99 / 100]);
    return text;
  }
  // The message of the longest pass and the class of its window.
  std::string TakeWorstWhat() { return std::exchange(worstWhat_, std::string()); }
  long TakeSlowPasses() { return std::exchange(slowPasses_, 0); }
  long passes() const { return passes_; }

 private:
  Win32Window& window_;
  double worstMs_ = 0;
  std::string worstWhat_;
  std::vector<double> busyPasses_;
  long slowPasses_ = 0;
  long passes_ = 0;
};

// A worker's lines for a second: how many got through, each waiting for the window.
int WorkerSecond(Loop& loop, Win32Window& window, int* next) {
  std::atomic<bool> done{false};
  std::atomic<int> sent{0};
  const int first = *next;
  std::thread worker([&] {
    const double until = NowMs() + 1000.0;
    while (NowMs() < until) {
      AppendLogLine(window, LogLine(first + sent.load()));
      sent.fetch_add(1);
    }
    done = true;
  });
  loop.ServeUntil([&] { return done.load(); });
  worker.join();
  *next += sent.load();
  return sent.load();
}

}  // namespace

int main() {
  Win32Window window("log-bench." + std::to_string(GetCurrentProcessId()));
  window.Show(SW_SHOWNOACTIVATE);
  Loop loop(window);
  loop.ServeWaiting();
  const double baseline = PrivateMiB();

  std::printf(
      "Win32 log list: bursts of %d lines from the window thread, a pass of the\n"
      "message loop after each; then a worker's lines, one per pass, for a second\n",
      kBurst);
  std::printf("%9s %10s %10s %11s %11s %10s %10s %11s %11s\n", "lines", "append ns", "serve ns",
              "worst ms", "passes>16", "priv MiB", "bytes/line", "worker l/s", "worst ms");
  int done = 0;
  double appendMs = 0, serveMs = 0;
  for (int target : {10000, 100000, 1000000}) {
    while (done < target) {
      const double started = NowMs();
      for (int i = 0; i < kBurst; ++i) AppendLogLine(window, LogLine(done++));
      const double appended = NowMs();
      loop.ServeWaiting();
      appendMs += appended - started;
      serveMs += NowMs() - appended;
    }
    // The last burst shown, however long the box waits before it shows a batch.
    loop.ServeUntil([&] {
      return SendMessageA(window.Control(morlane::ctl::kLogList), LB_GETCOUNT, 0, 0) == done;
    });
    const double burstWorst = loop.TakeWorstMs();
    const std::string burstWhat = loop.TakeWorstWhat();
    const std::string burstBusy = loop.TakeBusyPasses();
    const long burstSlow = loop.TakeSlowPasses();
    const double memory = PrivateMiB();
    int next = done;
    const int perSecond = WorkerSecond(loop, window, &next);
    const double workerWorst = loop.TakeWorstMs();
    const std::string workerWhat = loop.TakeWorstWhat();
    const std::string workerBusy = loop.TakeBusyPasses();
    std::printf("%9d %10.0f %10.0f %11.2f %11ld %10.1f %10.1f %11d %11.2f\n", target,
                appendMs * 1e6 / done, serveMs * 1e6 / done, burstWorst,
                burstSlow + loop.TakeSlowPasses(), memory, (memory - baseline) * 1024 * 1024 / done,
                perSecond, workerWorst);
    std::printf("%9s longest passes: message %s (bursts), %s (worker)\n", "", burstWhat.c_str(),
                workerWhat.c_str());
    std::printf("%9s working passes: %s (bursts); %s (worker)\n", "", burstBusy.c_str(),
                workerBusy.c_str());
    done = next;
  }
  HWND box = window.Control(morlane::ctl::kLogList);
  loop.ServeUntil([&] { return SendMessageA(box, LB_GETCOUNT, 0, 0) == done; });
  std::printf(
      "box shows %ld lines, line %ld selected, rows from %ld on (list: %d, %d); %ld passes\n",
      static_cast<long>(SendMessageA(box, LB_GETCOUNT, 0, 0)),
      static_cast<long>(SendMessageA(box, LB_GETCURSEL, 0, 0)),
      static_cast<long>(SendMessageA(box, LB_GETTOPINDEX, 0, 0)), window.LogList().GetCount(),
      window.LogList().GetCurSel(), loop.passes());
  return 0;
}
