#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "console/command_table.h"
#include "console/mcu_log.h"
#include "link/hid_control.h"
#include "link/serial_link.h"
#include "platform/clock.h"
#include "ui/window.h"

namespace morlane {

// Running totals of a test, read by the window thread and the benchmarks while it runs.
struct TestCounters {
  std::atomic<int64_t> sent{0};
  std::atomic<int64_t> answered{0};

  void Reset() {
    sent = 0;
    answered = 0;
  }
};

// What a worker works with. Everything belongs to the console, which outlives the worker:
// it joins the worker before any of it goes.
struct TestRun {
  Window& window;
  Clock& clock;
  CHIDControl& hid;
  CSerialLink& serial;
  const CommandTable& table;
  McuLog& log;
  std::string logPath;
  // true = no test is to run; the window thread raises it, the worker polls it.
  std::atomic<bool>& stopFlag;
  // Keeps one exchange on the link at a time: "Send" stays usable during a test.
  std::mutex& linkMutex;
  TestCounters& counters;
  std::string& lastSerialAnswer;
};

// The pause before each enabled command, the only pacing of a test.
inline constexpr int kCommandPauseMs = 300;
// The serial worker lets the line settle before its first command.
inline constexpr int kSerialSettleMs = 500;
// How often the serial worker looks for the rest of an answer on its way.
inline constexpr int kAnswerPollMs = 5;
// A pass over the table with no entry enabled waits this long before the next, instead of
// spinning a core (at time-critical priority, for the serial worker) until "Stop".
inline constexpr int kIdlePassMs = 20;

// The thread bodies; each returns 0 when it has seen the stop flag, written the finish
// line, closed MCUlog.txt and restored the buttons.
int HidTestWorker(TestRun& run);
int SerialTestWorker(TestRun& run);

// The button states of a running test, and of the end of one. On any thread: off the
// window thread the window thread carries them out.
void SetTestRunningButtons(Window& window);
void SetTestEndedButtons(Window& window);

}  // namespace morlane
