// How long the native window goes without painting while a procedure waits for a slow
// unit. The real window and dialog run on the in-process simulated unit, whose answers
// come late; a thread timer invalidates a button no procedure changes ("Clear Log")
// every 10 ms (the shortest timer the system gives), so that only the window's own
// serving paints it, and every WM_PAINT of it is stamped. For each procedure, started by a
// click on its button: the longest gap between paints and the 99th percentile of the gaps.
//
// Target: no gap over 50 ms (under Wine, which paints as Windows does).
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "../stall_figures.h"
#include "app/kestrum_dlg.h"
#include "sim/host_platform.h"
#include "sim/sim_unit.h"
#include "ui/control_ids.h"
#include "ui/hscroll_listbox.h"
#include "win/win32.h"
#include "win/win_clock.h"
#include "win/win_window.h"

namespace {

using namespace morlane;

constexpr UINT kRepaintEveryMs = 10;

std::vector<int64_t> paintStamps;
HWND watched = nullptr;
WNDPROC watchedProc = nullptr;

int64_t NowMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

LRESULT CALLBACK StampingProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_PAINT) paintStamps.push_back(NowMs());
  return CallWindowProcA(watchedProc, hwnd, message, wParam, lParam);
}

void CALLBACK Repaint(HWND, UINT, UINT_PTR, DWORD) {
  InvalidateRect(watched, nullptr, TRUE);
}

// Serves the window as its message loop does, for ms.
void Pump(win::Win32Window& window, int ms) {
  const int64_t end = NowMs() + ms;
  for (;;) {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (window.PreTranslate(msg)) continue;
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
    int64_t left = end - NowMs();
    if (left <= 0) return;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(left), QS_ALLINPUT);
  }
}

}  // namespace

int main() {
  std::error_code ignored;
  std::filesystem::path dir = std::filesystem::temp_directory_path() / "morlane-stall-probe";
  std::filesystem::remove_all(dir, ignored);
  std::filesystem::create_directories(dir, ignored);
  bench::WriteCpuImages(dir);

  sim::HostPlatform platform;
  std::string error;
  if (!platform.Start(true, {}, &error)) {
    std::fprintf(stderr, "stall_probe_win: cannot start the simulated unit: %s\n", error.c_str());
    return 1;
  }
  platform.Simulated()->Faults().answerDelayMs = bench::kProbeAnswerDelayMs;
  platform.Simulated()->Faults().replyDelayMs = bench::kProbeReplyDelayMs;

  win::Win32Window window("stall-probe." + std::to_string(GetCurrentProcessId()));
  win::WinClock clock;
  CKestrumDlg dialog(window, clock, platform.Ports(), platform.HidDevices());
  dialog.workingDir = dir;
  window.Attach(dialog);
  dialog.OnInitDialog();
  window.Show();

  watched = window.Control(ctl::kClearLog);
  watchedProc = reinterpret_cast<WNDPROC>(
      SetWindowLongPtrA(watched, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&StampingProc)));
  UINT_PTR timer = SetTimer(nullptr, 0, kRepaintEveryMs, &Repaint);
  Pump(window, 300);

  std::printf(
      "Win32 window, simulated unit answering after %d ms (service) and %d ms "
      "(bootloader, MCU updater); repaint asked every %u ms\n",
      bench::kProbeAnswerDelayMs, bench::kProbeReplyDelayMs, kRepaintEveryMs);
  std::printf("%-34s %9s %12s %12s %8s\n", "procedure", "span ms", "longest ms", "99th pct ms",
              "paints");
  auto measure = [&](const char* name, const std::function<void()>& procedure) {
    Pump(window, 100);
    int64_t from = NowMs();
    procedure();
    int64_t to = NowMs();
    bench::StallFigures f = bench::GapsBetween(paintStamps, from, to);
    std::printf("%-34s %9lld %12lld %12lld %8zu\n", name, static_cast<long long>(f.spanMs),
                static_cast<long long>(f.longestMs), static_cast<long long>(f.p99Ms), f.paints);
    std::fflush(stdout);
  };
  // A click on the button, through the window as a user's goes (the window busy while its
  // handler runs); buttons the dialog keeps hidden or disabled are made clickable first.
  auto press = [&](int id) {
    HWND button = window.Control(id);
    window.EnableControl(id, true);
    ShowWindow(button, SW_SHOWNA);
    SendMessageA(window.Handle(), WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                 reinterpret_cast<LPARAM>(button));
  };
  auto openOn = [&](int entry) {
    press(ctl::kClose);
    window.SetComboSelection(ctl::kInterfaceCombo, entry);
    press(ctl::kOpen);
  };
  auto commandTest = [&] {
    // "Send" in the middle of the test waits for the worker's exchange on the link.
    press(ctl::kStart);
    Pump(window, bench::kProbeTestRunMs / 2);
    press(ctl::kSend);
    Pump(window, bench::kProbeTestRunMs / 2);
    press(ctl::kStop);
    const int64_t giveUp = NowMs() + 10000;
    while (dialog.console.TestRunning() && NowMs() < giveUp) Pump(window, 5);
  };
  window.SetControlText(ctl::kCommandEdit, "Q1");
  window.SetCheck(ctl::kPlusEnter, 1);

  openOn(0);
  measure("Automatic, both CPUs (serial)", [&] { press(ctl::kAutomatic); });
  openOn(0);
  measure("Send Q1 (serial)", [&] { press(ctl::kSend); });
  measure("command test 3 s, Send (serial)", commandTest);
  openOn(1);
  bench::WriteMcuImage(dir);
  dialog.selection.cpuTarget = 0;
  measure("Update Firmware, MCU (USB)", [&] { press(ctl::kUpdateFirmware); });
  measure("Send Q1 (USB)", [&] { press(ctl::kSend); });
  measure("command test 3 s, Send (USB)", commandTest);

  bool flashed = false, installed = false;
  const bool showLog = std::getenv("STALL_PROBE_LOG") != nullptr;
  for (int i = 0; i < window.LogList().GetCount(); ++i) {
    std::string line = window.LogList().GetText(i);
    if (showLog) std::printf("log: %s\n", line.c_str());
    flashed = flashed || line == "File flash burn Successful!\n";
    installed = installed || line == "Install successful";
  }
  std::printf("outcome: both CPUs %s, MCU %s\n", flashed ? "programmed" : "NOT programmed",
              installed ? "installed" : "NOT installed");
  KillTimer(nullptr, timer);
  press(ctl::kClose);
  std::filesystem::remove_all(dir, ignored);
  return flashed && installed ? 0 : 1;
}
