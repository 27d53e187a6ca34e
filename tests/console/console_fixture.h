#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/headless_window.h"
#include "app/kestrum_dlg.h"
#include "platform/inprocess_hid.h"
#include "sim/sim_unit.h"
#include "sim/sim_usb.h"
#include "support/memory_serial.h"
#include "support/process.h"
#include "support/virtual_clock.h"
#include "ui/control_ids.h"

namespace morlane::test {

inline constexpr const char* kQ1Answer = "(230.1 229.8 230.0 012 50.0 27.2 --.- 00000000\r";
inline constexpr const char* kV2Answer = "(V2 01.20\r";
inline constexpr const char* kVAnswer = "(V 02.15\r";

// The dialog with the simulated unit behind both links: its USB side as the in-process
// HID device, its serial side on an in-memory line as COM1. The clock is the virtual one
// unless a test needs real time (a test whose worker must not spin).
class ConsoleTest : public ::testing::Test {
 protected:
  explicit ConsoleTest(Clock* clock = nullptr)
      : clock_(clock ? *clock : virtualClock),
        usb(unit, clock_),
        com1(clock_),
        dialog(std::make_unique<CKestrumDlg>(window, clock_, ports, hid)) {
    hid.Add(usb.Device());
    ports.Add(1, &com1);
    com1.SetPeer([this](const std::vector<uint8_t>& written, int baud, MemoryLine& line) {
      unit.OnSerialBytes(written.data(), written.size(), baud,
                         [this, &line](sim::SerialAnswer answer) {
                           if (!lateSerialAnswers) {
                             line.Queue(answer.bytes);
                             return;
                           }
                           // Each answer comes only once the next command has gone out.
                           if (!heldBack.empty()) line.Queue(heldBack.front());
                           if (!heldBack.empty()) heldBack.pop_front();
                           heldBack.push_back(answer.bytes);
                         });
    });
    window.SetCommandHandler([this](int id) { dialog->OnCommand(id); });
    window.SetLineHandler([this](std::string_view line) { OnLine(std::string(line)); });
    dialog->OnInitDialog();
    dialog->console.SetLogPath(dir.File("MCUlog.txt"));
  }
  ~ConsoleTest() override { dialog.reset(); }

  void OpenUsb() { Open(1); }
  void OpenCom() { Open(0); }
  void Open(int entry) {
    window.SetComboSelection(ctl::kInterfaceCombo, entry);
    ASSERT_TRUE(window.Click(ctl::kOpen));
    ASSERT_NE(dialog->session.sessionState, SessionState::None);
    window.LogList().ResetContent();
  }

  // Only the named command boxes checked ("Auto" is the box of "V").
  void CheckOnly(std::initializer_list<int> boxes) {
    for (int id : {ctl::kCheckQ1, ctl::kCheckLf, ctl::kCheckBl, ctl::kModeAuto, ctl::kCheckV2,
                   ctl::kCheckV3, ctl::kCheckBtun, ctl::kCheckSi, ctl::kCheckBrr, ctl::kCheckUas,
                   ctl::kCheckCf, ctl::kCheckCf2, ctl::kCheckFwv}) {
      window.SetCheck(id, 0);
    }
    for (int id : boxes) window.SetCheck(id, 1);
  }

  // The window thread's part while a test runs: carry out the worker's requests until
  // done() holds, at most timeoutMs of real time.
  bool ServeUntil(const std::function<bool()>& done, int timeoutMs = 10000) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
      if (std::chrono::steady_clock::now() > end) return false;
      window.ProcessPendingRequests(5);
    }
    return true;
  }
  bool ServeUntilEnded() {
    return ServeUntil([this] { return !dialog->console.TestRunning(); });
  }

  // "Stop" is pressed from inside the window thread at the moment the given line appears
  // for the count-th time, so that the worker has no chance of another command.
  void StopAtLine(std::string line, int count) {
    stopLine = std::move(line);
    stopCount = count;
  }

  int CountLines(const std::string& text) const {
    int n = 0;
    for (const std::string& line : window.LogLines()) n += line == text ? 1 : 0;
    return n;
  }
  std::string McuLogText() const {
    std::vector<uint8_t> bytes = dir.Read("MCUlog.txt");
    return std::string(bytes.begin(), bytes.end());
  }

  VirtualClock virtualClock;
  Clock& clock_;
  TempDir dir;
  sim::SimUnit unit;
  sim::SimUsb usb;
  InProcessHidBackend hid;
  MemoryLine com1;
  MemoryPortFactory ports;
  HeadlessWindow window;
  std::unique_ptr<CKestrumDlg> dialog;
  bool lateSerialAnswers = false;
  std::deque<std::vector<uint8_t>> heldBack;
  // Called for every log line on the window thread.
  std::function<void(const std::string&)> onLine;

 private:
  void OnLine(const std::string& line) {
    if (onLine) onLine(line);
    if (stopCount > 0 && line == stopLine && --stopCount == 0) window.Click(ctl::kStop);
  }
  std::string stopLine;
  int stopCount = 0;
};

// The same with the real clock, for tests whose worker would otherwise cycle without
// pause on a clock that never makes it wait.
class RealTimeConsoleTest : public ConsoleTest {
 protected:
  RealTimeConsoleTest() : ConsoleTest(&RealClock()) {}
};

}  // namespace morlane::test
