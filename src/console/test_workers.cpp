#include "console/test_workers.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <functional>

#include "console/console_texts.h"
#include "platform/priority.h"
#include "ui/control_ids.h"
#include "ui/log.h"

namespace morlane {

namespace {

using namespace console_text;

// The serial worker reads whatever has arrived, up to 128 bytes; one more keeps the text
// zero-terminated.
constexpr int kSerialReadLimit = 128;

void OnWindow(Window& window, const std::function<void()>& change) {
  if (window.OnWindowThread()) {
    change();
  } else {
    window.RunOnWindowThread(change);
  }
}

// Walks the table from entry 0, round and round, until the stop flag is seen; exchange
// runs for each enabled entry after the pause. Exchange returns how long it already waited
// for its answer; that time counts toward the next pause, so the pace stays one command
// per pause however the answers come.
template <typename Exchange>
void CycleTable(TestRun& run, Exchange exchange) {
  int entry = 0;
  bool anyEnabled = false;
  int64_t waited = 0;
  while (!run.stopFlag.load()) {
    if (run.table.Enabled(entry)) {
      anyEnabled = true;
      run.clock.SleepMs(static_cast<int>(std::max<int64_t>(0, kCommandPauseMs - waited)));
      AppendLogLine(run.window, run.table.Name(entry));
      waited = exchange(entry);
    }
    entry = (entry + 1) % CommandTable::kEntries;
    if (entry == 0) {
      if (!anyEnabled) run.clock.SleepMs(kIdlePassMs);
      anyEnabled = false;
    }
  }
}

// Collects the unit's answer to the command just sent, up to its carriage return: at 9600
// baud a 47-character answer takes 49 ms, and an adapter adds its latency, so a read at
// once would find nothing and file the answer under the next command. The wait lasts at
// most the pause that comes before the next command anyway. Returns the bytes read and
// sets waitedMs.
int CollectSerialAnswer(TestRun& run, uint8_t* into, int limit, int64_t* waitedMs) {
  const int64_t start = run.clock.MonotonicMs();
  int count = 0;
  for (;;) {
    int got = 0;
    {
      std::lock_guard lock(run.linkMutex);
      got = run.serial.ReadAvailable(into + count, limit - count);
    }
    if (got > 0) count += got;
    bool whole = count > 0 && std::memchr(into, '\r', static_cast<size_t>(count)) != nullptr;
    if (whole || count >= limit || run.stopFlag.load()) break;
    if (run.clock.MonotonicMs() - start >= kCommandPauseMs) break;
    run.clock.SleepMs(kAnswerPollMs);
  }
  *waitedMs = run.clock.MonotonicMs() - start;
  return count;
}

}  // namespace

void SetTestRunningButtons(Window& window) {
  OnWindow(window, [&window] {
    window.EnableControl(ctl::kStart, false);
    window.EnableControl(ctl::kStop, true);
    window.EnableControl(ctl::kClose, false);
    window.EnableControl(ctl::kSelectFirmware, false);
    window.EnableControl(ctl::kSelectUsbFirmware, false);
    window.EnableControl(ctl::kUpdateFirmware, false);
    window.EnableControl(ctl::kUpdateUsbFirmware, false);
  });
}

void SetTestEndedButtons(Window& window) {
  OnWindow(window, [&window] {
    window.EnableControl(ctl::kStart, true);
    window.EnableControl(ctl::kStop, false);
    window.EnableControl(ctl::kUpdateFirmware, false);
    window.EnableControl(ctl::kClose, true);
  });
}

int HidTestWorker(TestRun& run) {
  AppendLogLine(run.window, kDash36);
  SetTestRunningButtons(run.window);
  AppendLogLine(run.window, kInAutoThread);
  run.log.Create(run.logPath);
  run.log.Write(HidBeginLine(run.clock.Now()));

  CHIDControl::Reply reply{};
  CycleTable(run, [&run, &reply](int entry) {
    std::string_view command = run.table.Text(entry);
    int written = 0;
    int answered = 0;
    {
      std::lock_guard lock(run.linkMutex);
      written = run.hid.WriteCommand(command);
      if (written) answered = run.hid.ReadReply(reply);
    }
    ++run.counters.sent;
    // The HID reply is read in full before this returns; the pause stays whole.
    if (!written) {
      AppendLogLine(run.window, kWriteReportError);
      return int64_t{0};
    }
    if (!answered) {
      AppendLogLine(run.window, kReadError);
      return int64_t{0};
    }
    ++run.counters.answered;
    std::string_view answer = ReplyText(reply);
    AppendLogLine(run.window, answer);
    if (run.log.IsOpen()) {
      run.log.Write(command);
      run.log.Write(answer);
    }
    return int64_t{0};
  });

  AppendLogLine(run.window, kHidWorkerExit);
  run.log.Write(HidFinishLine(run.clock.Now()));
  run.log.Close();
  SetTestEndedButtons(run.window);
  AppendLogLine(run.window, kDash36);
  return 0;
}

int SerialTestWorker(TestRun& run) {
  // Refused without the privilege to ask for it; the test runs at normal priority then.
  RaiseThreadPriorityTimeCritical();
  run.clock.SleepMs(kSerialSettleMs);
  AppendLogLine(run.window, kDash36);
  SetTestRunningButtons(run.window);
  AppendLogLine(run.window, kInAutoThread);
  run.log.Create(run.logPath);

  std::array<uint8_t, kSerialReadLimit + 1> received{};
  CycleTable(run, [&run, &received](int entry) {
    std::string_view command = run.table.Text(entry);
    received.fill(0);
    int count = 0;
    {
      std::lock_guard lock(run.linkMutex);
      run.serial.SendBytes(reinterpret_cast<const uint8_t*>(command.data()),
                           static_cast<int>(command.size()));
    }
    ++run.counters.sent;
    run.log.Write(SerialBeginLine(run.clock.Now()));
    if (run.log.IsOpen()) {
      run.log.Write(run.table.Name(entry));
      run.log.Write("\r\n");
    }
    int64_t waited = 0;
    count = CollectSerialAnswer(run, received.data(), kSerialReadLimit, &waited);
    if (count <= 0) {
      AppendLogLine(run.window, kSerialNothingReceived);
      return waited;
    }
    ++run.counters.answered;
    // As text: the bytes up to the first zero, the unit's carriage return included.
    const char* text = reinterpret_cast<const char*>(received.data());
    std::string_view answer(text, strnlen(text, static_cast<size_t>(count)));
    run.lastSerialAnswer.assign(answer);
    AppendLogLine(run.window, answer);
    if (run.log.IsOpen()) {
      run.log.Write(answer);
      run.log.Write("\r\n");
    }
    return waited;
  });

  AppendLogLine(run.window, kSerialWorkerExit);
  run.log.Write(SerialFinishLine(run.clock.Now()));
  run.log.Close();
  SetTestEndedButtons(run.window);
  AppendLogLine(run.window, kDash36);
  return 0;
}

}  // namespace morlane
