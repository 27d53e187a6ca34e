#include "cli/gang_unit.h"

#include <algorithm>
#include <filesystem>

#include "app/headless_window.h"
#include "app/kestrum_dlg.h"
#include "cli/cli_session.h"
#include "cli/sha256.h"
#include "platform/file_io.h"
#include "platform/inprocess_hid.h"
#include "ui/control_ids.h"

namespace morlane {

namespace {

// A port that fails every call once the station stops every unit: the procedure then
// ends as it would with the cable pulled, within its own waits.
class StoppablePort : public SerialPort {
 public:
  StoppablePort(std::unique_ptr<SerialPort> port, const std::atomic<bool>& stop)
      : port_(std::move(port)), stop_(stop) {}
  bool SetLine(int baud) override { return !stop_ && port_->SetLine(baud); }
  int QueuedBytes() override { return stop_ ? -1 : port_->QueuedBytes(); }
  int Read(uint8_t* buffer, int n) override { return stop_ ? -1 : port_->Read(buffer, n); }
  int Write(const uint8_t* data, int n, int timeoutMs) override {
    return stop_ ? -1 : port_->Write(data, n, timeoutMs);
  }
  bool WaitReadable(int timeoutMs) override { return !stop_ && port_->WaitReadable(timeoutMs); }

 private:
  std::unique_ptr<SerialPort> port_;
  const std::atomic<bool>& stop_;
};

// The table as one unit sees it: its own COM number and no other, so that its port search
// finds that port whatever the others are doing.
class PinnedPorts : public SerialPortFactory {
 public:
  PinnedPorts(SerialPortFactory& all, int comNumber, const std::atomic<bool>& stop)
      : all_(all), com_(comNumber), stop_(stop) {}
  std::unique_ptr<SerialPort> Open(int comNumber, PortOpenError* error) override {
    if (comNumber != com_ || stop_) {
      if (error) *error = PortOpenError::NotFound;
      return nullptr;
    }
    std::unique_ptr<SerialPort> port = all_.Open(comNumber, error);
    if (!port) return nullptr;
    return std::make_unique<StoppablePort>(std::move(port), stop_);
  }
  std::string PathOf(int comNumber) const override {
    return comNumber == com_ ? all_.PathOf(comNumber) : std::string();
  }

 private:
  SerialPortFactory& all_;
  int com_;
  const std::atomic<bool>& stop_;
};

// The real clock, whose waits end early once every unit is to stop: a bootloader start
// of two seconds is not sat out when the station was told to stop now.
class StoppableClock : public SystemClock {
 public:
  explicit StoppableClock(const std::atomic<bool>& stop) : stop_(stop) {}
  void SleepMs(int ms) override {
    constexpr int kSliceMs = 20;
    for (int left = ms; left > 0 && !stop_; left -= kSliceMs) {
      SystemClock::SleepMs(std::min(left, kSliceMs));
    }
  }

 private:
  const std::atomic<bool>& stop_;
};

std::string CpuName(char cpu) {
  return cpu == 'M' ? "master" : cpu == 'S' ? "slave" : "";
}

std::string Now() {
  return Iso8601Local(RealClock().CalendarSeconds());
}

bool WriteRecord(const std::string& path, const RunRecord& record) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) return false;
  std::string json = RunRecordJson(record);
  bool written = std::fwrite(json.data(), 1, json.size(), file) == json.size();
  return std::fclose(file) == 0 && written;
}

}  // namespace

GangUnit::GangUnit(int comNumber, std::string portPath, SerialPortFactory& ports,
                   GangControl& control)
    : com_(comNumber), port_(std::move(portPath)), ports_(ports), control_(control) {}

UnitView GangUnit::View() {
  std::lock_guard lock(viewMutex_);
  return view_;
}

void GangUnit::Line(std::string_view line) {
  if (log_) {
    std::fwrite(line.data(), 1, line.size(), log_);
    std::fputc('\n', log_);
    std::fflush(log_);
  }
  if (onLine) onLine(Name(), line);
  std::string step(line);
  while (!step.empty() && (step.back() == '\n' || step.back() == ' ')) step.pop_back();
  if (step.empty() || step.find_first_not_of('-') == std::string::npos) return;
  std::lock_guard lock(viewMutex_);
  view_.step = step;
}

bool GangUnit::Run(const GangJob& job, const std::string& workingDir,
                   const std::string& recordsDir) {
  const std::filesystem::path records(recordsDir);
  log_ = std::fopen((records / UnitFileName(Name(), ".log")).string().c_str(), "wb");
  record = RunRecord{};
  record.unit = Name();
  record.port = port_;
  record.procedure = job.procedure;
  record.toolVersion = MORLANE_VERSION;
  record.started = Now();

  HeadlessWindow window;
  StoppableClock clock(control_.abortNow);
  PinnedPorts ports(ports_, com_, control_.abortNow);
  InProcessHidBackend noUsb;
  CKestrumDlg dialog(window, clock, ports, noUsb);
  dialog.workingDir = workingDir;
  dialog.flasher.holdNextCpu = &control_.holdNextCpu;
  window.SetCommandHandler([&dialog](int id) { dialog.OnCommand(id); });
  window.SetLineHandler([this](std::string_view line) { Line(line); });
  window.SetMessageHandler([this](const std::string& text) {
    if (onMessage) onMessage(Name(), text);
  });
  window.SetProgressHandler([this](int id, int position) {
    if (id != ctl::kProgressBar) return;
    std::lock_guard lock(viewMutex_);
    view_.percent = position;
  });
  dialog.OnInitDialog();

  int passed = 0;
  if (PressOpen(window, dialog, "com")) {
    if (job.procedure == "flash") {
      passed = PressFlash(window, dialog, job.path, job.cpu);
      const FlashOutcome& outcome = dialog.flasher.Programmer().outcome;
      record.images.push_back(
          {job.path, FileSha256(job.path), dialog.selection.cpuTarget == 1 ? "slave" : "master",
           passed ? "pass" : "fail", passed ? "" : FlashStepName(outcome.failedStep)});
    } else {
      passed = PressAuto(window, dialog);
      for (const ImageAttempt& attempt : dialog.flasher.attempts) {
        record.images.push_back({attempt.path, FileSha256(attempt.path), CpuName(attempt.cpu),
                                 attempt.passed ? "pass" : "fail",
                                 attempt.passed ? "" : FlashStepName(attempt.outcome.failedStep)});
      }
    }
    PressClose(window, dialog);
  }
  dialog.EndDialog();

  // Aborted: stopped at once, or held back from a CPU it would have programmed. A unit that
  // failed on its own after the first Ctrl-C keeps its "fail".
  const bool stopped = control_.abortNow || dialog.flasher.heldBack;
  record.result = stopped ? "aborted" : passed ? "pass" : "fail";
  record.ended = Now();
  // A station keeps the records: a unit whose log or record could not be written is not
  // reported as passed.
  bool kept = log_ != nullptr && !std::ferror(log_);
  if (log_ && std::fclose(log_) != 0) kept = false;
  log_ = nullptr;
  kept = WriteRecord((records / UnitFileName(Name(), ".json")).string(), record) && kept;
  if (!kept && onMessage) onMessage(Name(), "its log or run record could not be written");

  std::lock_guard lock(viewMutex_);
  view_.done = true;
  if (record.result == "pass") {
    view_.verdict = "PASS";
    view_.percent = 100;
  } else if (record.result == "aborted") {
    view_.verdict = "ABORTED";
  } else {
    std::string step;
    for (const ImageRecord& image : record.images) {
      if (image.result == "fail" && step.empty()) step = image.step;
    }
    view_.verdict = "FAIL" + (step.empty() ? ": " + view_.step : " at " + step);
  }
  return kept && record.result == "pass";
}

}  // namespace morlane
