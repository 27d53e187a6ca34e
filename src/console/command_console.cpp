#include "console/command_console.h"

#include <system_error>

#include "console/console_texts.h"
#include "console/single_send.h"
#include "platform/utf8_path.h"
#include "ui/control_ids.h"
#include "ui/log.h"

namespace morlane {

namespace {
// How long the window thread waits for one of the worker's requests per pass while it
// waits for the worker to end.
constexpr int kServeSliceMs = 20;
}  // namespace

CommandConsole::CommandConsole(DialogContext& context) : context_(context) {}

CommandConsole::~CommandConsole() {
  Shutdown();
}

void CommandConsole::InitCommandTable() {
  table_.InitCommandTable();
}

int CommandConsole::OnSend() {
  RunEvents& events = context_.events;
  ReportStepStarted(events, "send");
  const bool linked = context_.session.sessionState != SessionState::None;
  const int answered = SendSingleCommand(context_, linkMutex_);
  ReportStepEnded(events, "send", {}, answered != 0,
                  linked ? StepReason::NoAnswer : StepReason::Port,
                  linked ? "the command was not answered" : "no link is open");
  return answered;
}

void CommandConsole::PrepareCommandTest() {
  context_.values.SaveFromControls(context_.window);
  AppendLogLine(context_.window, console_text::kBeginAutoSend);
  table_.TakeCheckBoxes(context_.values);
}

void CommandConsole::OnStart() {
  // Only one worker ever runs. A second "Start" that comes before the first worker has
  // disabled the button, or while a stopped worker still finishes its command, is not
  // taken: the stop flag, MCUlog.txt and the link exist once.
  if (running_.load()) return;
  JoinEndedWorker();
  switch (context_.session.sessionState) {
    case SessionState::Hid:
      if (context_.session.Hid().IsOpen() != 1) {
        AppendLogLine(context_.window, console_text::kOpenDeviceFirst);
        return;
      }
      PrepareCommandTest();
      StartWorker(&HidTestWorker);
      return;
    case SessionState::Serial:
      PrepareCommandTest();
      StartWorker(&SerialTestWorker);
      return;
    default:
      AppendLogLine(context_.window, console_text::kOpenDeviceFirst);
      return;
  }
}

std::string CommandConsole::LogPath() const {
  return logPath_.empty() ? PathToUtf8(context_.InWorkingDir(McuLog::kFileName)) : logPath_;
}

void CommandConsole::StartWorker(int (*body)(TestRun&)) {
  // The worker sets these buttons itself once it runs; setting them here as well closes
  // the gap in which "Close" or "Update Firmware" could take the link from under it.
  SetTestRunningButtons(context_.window);
  counters_.Reset();
  stopFlag_ = false;
  running_ = true;
  TestRun run{context_.window,
              context_.clock,
              context_.session.Hid(),
              context_.session.Serial(),
              table_,
              log_,
              LogPath(),
              stopFlag_,
              linkMutex_,
              counters_,
              lastSerialAnswer_};
  try {
    // The platform's default stack: the worker's frames and the log texts need more than
    // the 4 KiB a smaller one would give.
    // The test runs until it is stopped: its end is its success, whatever it logged.
    RunEvents& events = context_.events;
    if (events.Listening()) events.Report(event::StepStarted{"test", ""});
    worker_ = std::thread([this, body, run, &events]() mutable {
      body(run);
      if (events.Listening()) events.Report(event::StepEnded{"test", ""});
      running_ = false;
    });
  } catch (const std::system_error&) {
    // No thread to be had: the test does not run, and the buttons say so.
    running_ = false;
    stopFlag_ = true;
    SetTestEndedButtons(context_.window);
    if (context_.events.Listening()) {
      context_.events.Report(event::StepEnded{"test", "", event::Outcome::Fail, StepReason::Port,
                                              "no thread for the command test"});
    }
  }
}

void CommandConsole::OnStop() {
  AppendLogLine(context_.window, console_text::kStopAutoSend);
  stopFlag_ = true;
  context_.window.EnableControl(ctl::kSelectFirmware, true);
  context_.window.EnableControl(ctl::kSelectUsbFirmware, true);
}

void CommandConsole::JoinEndedWorker() {
  if (worker_.joinable() && !running_.load()) worker_.join();
}

void CommandConsole::Shutdown() {
  if (worker_.joinable()) {
    stopFlag_ = true;
    // The worker's last log lines and button changes are carried out by this thread; it
    // ends after at most one pause, send and read.
    while (running_.load()) context_.window.ProcessPendingRequests(kServeSliceMs);
    worker_.join();
  }
  log_.Close();
}

}  // namespace morlane
