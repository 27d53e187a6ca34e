#include "station/gang_unit.h"

#include <algorithm>
#include <chrono>
#include <filesystem>

#include "app/headless_window.h"
#include "app/kestrum_dlg.h"
#include "flash/flash_texts.h"
#include "platform/inprocess_hid.h"
#include "platform/utf8_path.h"
#include "records/unit_history.h"
#include "records/unkept_runs.h"
#include "station/press.h"
#include "ui/control_ids.h"

namespace morlane {

namespace {

// A port that fails every call once the station stops every unit: the procedure then
// ends as it would with the cable pulled, within its own waits.
class StoppablePort : public SerialPort {
 public:
  StoppablePort(std::unique_ptr<SerialPort> port, const std::atomic<bool>& stop,
                std::atomic<bool>& cut)
      : port_(std::move(port)), stop_(stop), cut_(cut) {}
  bool SetLine(int baud) override { return !Stopped() && port_->SetLine(baud); }
  int QueuedBytes() override { return Stopped() ? -1 : port_->QueuedBytes(); }
  int Read(uint8_t* buffer, int n) override { return Stopped() ? -1 : port_->Read(buffer, n); }
  int Write(const uint8_t* data, int n, int timeoutMs) override {
    return Stopped() ? -1 : port_->Write(data, n, timeoutMs);
  }
  bool WaitReadable(int timeoutMs) override { return !Stopped() && port_->WaitReadable(timeoutMs); }

 private:
  bool Stopped() {
    if (!stop_) return false;
    cut_ = true;
    return true;
  }

  std::unique_ptr<SerialPort> port_;
  const std::atomic<bool>& stop_;
  std::atomic<bool>& cut_;
};

// The table as one unit sees it: its own port under the number of the port's name and no
// other, so that its port search finds that port whatever the others are doing, and says
// it by the name the station shows (entry 2 of the table may be COM3).
class PinnedPorts : public SerialPortFactory {
 public:
  PinnedPorts(SerialPortFactory& all, const StationPort& port, const std::atomic<bool>& stop,
              std::atomic<bool>& cut)
      : all_(all), entry_(port.entry), shownAs_(port.ShownNumber()), stop_(stop), cut_(cut) {}
  std::unique_ptr<SerialPort> Open(int comNumber, PortOpenError* error) override {
    if (comNumber == shownAs_ && stop_) cut_ = true;
    if (comNumber != shownAs_ || stop_) {
      if (error) *error = PortOpenError::NotFound;
      return nullptr;
    }
    PortOpenError why = PortOpenError::None;
    std::unique_ptr<SerialPort> port = all_.Open(entry_, &why);
    if (error) *error = why;
    if (!port) {
      lastError = why;
      return nullptr;
    }
    return std::make_unique<StoppablePort>(std::move(port), stop_, cut_);
  }
  std::string PathOf(int comNumber) const override {
    return comNumber == shownAs_ ? all_.PathOf(entry_) : std::string();
  }
  int NumberBeyondSearch() const override { return shownAs_; }

  // Why the unit's own port last failed to open; None while it opened.
  PortOpenError lastError = PortOpenError::None;

 private:
  SerialPortFactory& all_;
  int entry_;
  int shownAs_;
  const std::atomic<bool>& stop_;
  std::atomic<bool>& cut_;
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

int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

std::string Iso8601(int64_t epochMs) {
  return Iso8601Local(epochMs / 1000);
}

ImageRecord ImageOf(const std::string& path, const std::string& cpu, bool passed,
                    const FlashOutcome& outcome) {
  ImageRecord image;
  image.file = path;
  image.sha256 = outcome.sha256;
  image.bytes = outcome.bytes;
  image.cpu = cpu;
  image.result = passed ? "pass" : "fail";
  // An unanswered closing command after a passed verification keeps the pass: the step
  // is only named for an image that failed.
  if (!passed) image.step = FlashStepName(outcome.failedStep);
  image.closing = outcome.closing;
  image.skipped = outcome.skipped;
  for (const StepTime& time : outcome.seconds) image.seconds.emplace_back(time.step, time.seconds);
  image.frames = outcome.link.frames;
  image.retries = outcome.link.retries;
  image.naks = outcome.link.naks;
  return image;
}

// A step as the operator knows it.
std::string StepInWords(const std::string& step) {
  if (step == "select") return "the CPU's selection";
  if (step == "connect") return "the handshake";
  if (step == "burn") return "the programming";
  if (step == "close") return "the closing command";
  return "the " + step;
}

// Why a step failed, in the words an operator reads on the tile.
std::string FailureInWords(const event::StepEnded& failed) {
  const std::string step = StepInWords(failed.step);
  switch (failed.reason) {
    case StepReason::NoAnswer:
      return "the unit did not answer " + step;
    case StepReason::Nak:
      return "the unit did not acknowledge " + step;
    case StepReason::Status:
      return "the unit refused " + step;
    case StepReason::Checksum:
      return "the unit's flash differs from the image";
    case StepReason::File:
      return failed.detail.empty() ? "the image could not be used"
                                   : "the image could not be used: " + failed.detail;
    case StepReason::Port:
      return failed.detail.empty() ? "the port failed" : "the port failed: " + failed.detail;
    case StepReason::Stopped:
      return "stopped by the station";
    case StepReason::None:
      break;
  }
  return failed.detail.empty() ? step + " failed" : step + " failed: " + failed.detail;
}

}  // namespace

GangUnit::GangUnit(StationPort port, SerialPortFactory& ports, GangControl& control)
    : port_(std::move(port)), ports_(ports), control_(control) {}

UnitView GangUnit::View() {
  std::lock_guard lock(viewMutex_);
  return view_;
}

void GangUnit::Line(std::string_view line) {
  log_.append(line);
  log_ += '\n';
  if (onLine) onLine(Name(), line);
}

void GangUnit::Report(const RunEvent& reported) {
  if (const auto* started = std::get_if<event::StepStarted>(&reported)) {
    std::lock_guard lock(viewMutex_);
    view_.step = started->cpu.empty() ? started->step : started->step + " " + started->cpu;
    // The bar is the step's own: a burn's 100 % does not stand under the next CPU's connect.
    view_.percent = 0;
  } else if (const auto* progress = std::get_if<event::Progress>(&reported)) {
    std::lock_guard lock(viewMutex_);
    view_.percent = std::clamp(progress->percent, 0, 100);
  } else if (const auto* failed = std::get_if<event::StepEnded>(&reported);
             failed && failed->outcome == event::Outcome::Fail && !firstFailure_) {
    firstFailure_ = *failed;
  }
  if (!events) return;
  // A step the station's stop cut short did not fail on the unit's account.
  const auto* ended = std::get_if<event::StepEnded>(&reported);
  if (ended && ended->outcome == event::Outcome::Fail && cut_) {
    event::StepEnded stopped = *ended;
    stopped.reason = StepReason::Stopped;
    events->Write(stopped, Name());
    return;
  }
  events->Write(reported, Name());
}

RunRecord StartRecord(const StationIdentity& identity, const std::string& procedure) {
  RunRecord record;
  record.station = identity.station;
  record.operatorName = identity.operatorName;
  record.procedure = procedure;
  record.toolVersion = MORLANE_VERSION;
  record.startedMs = NowMs();
  record.started = Iso8601(record.startedMs);
  record.runId = NewRunId(record.startedMs);
  return record;
}

void FinishRecord(RunRecord& record, const RunEnding& ending) {
  DecideVerdict(record, ending);
  record.endedMs = NowMs();
  record.ended = Iso8601(record.endedMs);
}

void AddImages(RunRecord& record, const GangJob& job, int passed, CKestrumDlg& dialog, bool cut) {
  // A record names an image as the technician or the profile gave it, not as the programmer
  // made it absolute to open it.
  auto given = [&job](const std::string& path) {
    if (path == job.path && !job.file.empty()) return job.file;
    for (const ApprovedImage& image : job.approved) {
      if (image.path == path) return image.file;
    }
    return path;
  };
  if (!job.path.empty()) {
    const FlashOutcome& outcome = dialog.flasher.Programmer().outcome;
    record.images.push_back(ImageOf(given(job.path),
                                    dialog.selection.cpuTarget == 1 ? "slave" : "master",
                                    passed != 0, outcome));
  } else {
    for (const ImageAttempt& attempt : dialog.flasher.attempts) {
      record.images.push_back(
          ImageOf(given(attempt.path), CpuName(attempt.cpu), attempt.passed, attempt.outcome));
    }
  }
  // The station's stop can cut only the CPU that was running: "Automatic" starts no other
  // after it. That image did not fail on its own.
  if (cut && !record.images.empty() && record.images.back().result == "fail") {
    record.images.back().result = "aborted";
  }
}

void GangUnit::ApproveOnly(const GangJob& job, CKestrumDlg& dialog) {
  if (job.approved.empty()) return;
  dialog.flasher.handshakeRetries = job.retries;
  if (job.procedure == "auto") {
    for (const ApprovedImage& image : job.approved) {
      dialog.flasher.imageList.push_back(image.path);
      // A package's manifest names each image's CPU; a loose file's name does.
      if (!image.target.empty()) {
        dialog.flasher.imageCpus.emplace_back(image.path, image.target == "slave" ? 'S' : 'M');
      }
    }
  }
  dialog.flasher.Programmer().refuseImage = [&job](const std::string& path,
                                                   const std::string& sha256) {
    for (const ApprovedImage& image : job.approved) {
      if (image.path == path) return DigestRefusal(image, sha256);
    }
    return path + ": not an image of this station's profile";
  };
}

std::string GangUnit::HoldImages(const GangJob& job) {
  held_.clear();
  for (const ApprovedImage& image : job.approved) {
    std::string bytes;
    const std::string why = ReadApprovedImage(image, &bytes);
    if (why.empty()) {
      held_[image.path] = std::move(bytes);
      continue;
    }
    held_.clear();
    Line(std::string(flashtext::kNotApproved) + why);
    if (events) events->Write(event::Refused{image.path, "not-approved", 0, why}, Name());
    return why;
  }
  return {};
}

bool GangUnit::Keep(const GangJob& job, RecordStore& store) {
  std::string why;
  if (store.Commit(record, log_, &why)) return true;
  // A run the store refused is no unit's failure but the station's.
  stationFault = "records cannot be kept (" + why + ")";
  const std::string where = KeepRefusedRun(job.unkeptFolder, record, log_);
  failReason = "its record could not be kept: " + why;
  if (onMessage)
    onMessage(Name(), "its run record could not be kept: " + why + "; it is kept " + where);
  return false;
}

bool GangUnit::Run(const GangJob& job, const std::string& workingDir, RecordStore& store,
                   const StationIdentity& identity) {
  log_.clear();
  cut_ = false;
  failReason.clear();
  stationFault.clear();
  slotFault.clear();
  firstFailure_.reset();
  {
    std::lock_guard lock(viewMutex_);
    view_ = UnitView{};
  }
  record = StartRecord(identity, job.procedure);
  record.profile = job.profile;
  record.slot = Name();
  record.port = port_.path;
  record.portId = portId;
  record.unitId = unitId;
  record.package = job.package;
  if (events) {
    event::RunStarted started;
    started.command = job.command.empty() ? "gang " + job.procedure : job.command;
    started.port = port_.path;
    started.toolVersion = record.toolVersion;
    started.started = record.started;
    started.runId = record.runId;
    started.unitId = unitId;
    started.station = true;
    events->Write(started, Name());
    if (job.package) {
      events->Write(event::Package{job.package->file, job.package->sha256, job.package->model,
                                   job.package->release, job.package->signer.value_or("")},
                    Name());
    }
  }

  HeadlessWindow window;
  StoppableClock clock(control_.abortNow);
  PinnedPorts ports(ports_, port_, control_.abortNow, cut_);
  InProcessHidBackend noUsb;
  CKestrumDlg dialog(window, clock, ports, noUsb);
  dialog.workingDir = PathFromUtf8(workingDir);
  dialog.flasher.holdNextCpu = &control_.holdNextCpu;
  dialog.flasher.Link().stopNow = &control_.abortNow;
  dialog.events.Listen(this);
  if (job.skipIdentical && unitId) {
    dialog.flasher.Programmer().recordedAsHolding = [&store, this](const std::string& cpu,
                                                                   const std::string& sha256) {
      return LastPassedWith(store, *unitId, cpu, sha256);
    };
  }
  window.SetCommandHandler([&dialog](int id) { dialog.OnCommand(id); });
  window.SetLineHandler([this](std::string_view line) { Line(line); });
  window.SetMessageHandler([this](const std::string& text) {
    if (onMessage) onMessage(Name(), text);
  });
  ApproveOnly(job, dialog);
  dialog.OnInitDialog();

  // The station's images are read and checked before the port is even opened: a unit is
  // never touched for a file that is not the approved one, and never gets half its images
  // from one release and half from the next.
  const std::string refused = HoldImages(job);
  if (!held_.empty()) {
    dialog.flasher.Programmer().heldImage = [this](const std::string& path) -> const std::string* {
      const auto held = held_.find(path);
      return held == held_.end() ? nullptr : &held->second;
    };
  }
  int passed = 0;
  const bool opened = refused.empty() && PressOpen(window, dialog, "com");
  if (opened) {
    passed = job.procedure == "flash" ? PressFlash(window, dialog, job.path, job.cpu)
                                      : PressAuto(window, dialog);
    AddImages(record, job, passed, dialog, cut_);
    PressClose(window, dialog);
  }
  dialog.EndDialog();

  // Stopped: at once, or held back from a CPU it would have programmed. A unit that failed
  // on its own keeps its "fail" whatever was pressed.
  // A port another program holds is the slot's fault: the unit was never reached, and its
  // run is cut short, not failed.
  const bool portHeld = !opened && refused.empty() && ports.lastError == PortOpenError::Busy;
  if (portHeld) slotFault = port_.path + " is held by another program";
  FinishRecord(record, {.procedurePassed = passed != 0,
                        .opened = opened,
                        .stopped = control_.abortNow || dialog.flasher.heldBack || portHeld,
                        .refusedStep = refused.empty() ? "" : "image"});

  if (!refused.empty()) {
    stationFault = "an approved image changed: " + refused;
    failReason = refused;
  } else if (record.result == "fail" && firstFailure_) {
    failReason = FailureInWords(*firstFailure_);
  }
  // The run is kept before the unit is shown as done; a unit whose run could not be kept
  // is never reported as passed.
  const bool kept = Keep(job, store);
  held_.clear();

  {
    std::lock_guard lock(viewMutex_);
    view_.done = true;
    if (record.result == "pass") {
      view_.verdict = "PASS";
      view_.percent = 100;
    } else if (record.result == "aborted") {
      view_.verdict = "ABORTED";
    } else {
      view_.verdict = "FAIL at " + record.failedStep;
    }
  }
  const bool passedAndKept = record.result == "pass";
  if (events) {
    event::RunEnded ended;
    ended.result = record.result;
    ended.failedStep = record.failedStep;
    ended.exit = passedAndKept ? 0 : 1;
    events->Write(ended, Name());
  }
  if (kept && afterKept) afterKept();
  return passedAndKept;
}

}  // namespace morlane
