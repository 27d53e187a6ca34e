#include "cli/cli_session.h"

#include "station/gang_unit.h"
#include "station/press.h"
#include "station/profile.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <system_error>

#include "platform/console_io.h"
#include "platform/file_io.h"
#include "platform/utf8_path.h"
#include "records/unit_history.h"
#include "records/unit_id.h"
#include "records/unkept_runs.h"
#include "sim/host_platform.h"
#include "sim/sim_options.h"
#include "sim/sim_unit.h"
#include "ui/control_ids.h"
#include "ui/log.h"

namespace morlane {

CliSession::CliSession(const GlobalOptions& options) : options_(options) {}

sim::SimUnit* CliSession::Sim() {
  return platform_ ? platform_->Simulated() : nullptr;
}
SerialPortFactory& CliSession::Ports() {
  return platform_->Ports();
}
HidBackend& CliSession::HidDevices() {
  return platform_->HidDevices();
}

CliSession::~CliSession() {
  Finish();
  dialog_.reset();
  window_.reset();
  platform_.reset();
  if (json_) std::fclose(json_);
  if (eventsOut_ && eventsOut_ != stdout) std::fclose(eventsOut_);
}

// "N:SWITCH[=VALUE]": the switch as the simulated unit's program takes it, on unit N.
bool CliSession::ApplySimulatedFaults(std::string* error) {
  for (const std::string& fault : options_.simulateFaults) {
    size_t colon = fault.find(':');
    int unit = colon == std::string::npos ? 0 : std::atoi(fault.substr(0, colon).c_str());
    sim::SimUnit* target = platform_->SimulatedUnit(unit);
    if (!target) {
      *error = "--simulate-fault " + fault + ": no such simulated unit";
      return false;
    }
    std::string why;
    if (!sim::ApplyFaultSwitch(fault.substr(colon + 1), target->Faults(), &why)) {
      *error = "--simulate-fault " + fault + ": " + why;
      return false;
    }
  }
  return true;
}

bool CliSession::Setup(std::string* error) {
  // --dir becomes the dialog's working directory; the process stays where it was started.
  // What the run writes beside the images (--log-json) is taken relative to it, as a
  // change of directory would.
  if (!options_.dir.empty()) {
    std::error_code failure;
    if (!std::filesystem::is_directory(PathFromUtf8(options_.dir), failure)) {
      if (!failure) failure = std::make_error_code(std::errc::not_a_directory);
      *error = "cannot enter " + options_.dir + ": " + failure.message();
      return false;
    }
  }
  // As git -C takes them: the records folder from --dir too, like every relative path.
  if (!options_.records.empty()) options_.records = PathOf(options_.records);
  if (options_.beforeOutputs && !options_.beforeOutputs(*this, error)) return false;
  if (!options_.logJson.empty()) {
    std::string jsonPath = PathToUtf8(PathFromUtf8(options_.dir) / PathFromUtf8(options_.logJson));
    json_ = OpenStream(jsonPath, "w");
    if (!json_) {
      *error = "cannot write " + options_.logJson;
      return false;
    }
  }
  if (!options_.events.empty()) {
    if (options_.events == "-") {
      eventsOut_ = stdout;
    } else {
      eventsOut_ =
          OpenStream(PathToUtf8(PathFromUtf8(options_.dir) / PathFromUtf8(options_.events)), "w");
    }
    if (!eventsOut_) {
      *error = "cannot write " + options_.events;
      return false;
    }
    events_ = std::make_unique<EventFile>(eventsOut_);
  }
  platform_ = std::make_unique<sim::HostPlatform>();
  if (options_.simulateUnits > 0) {
    if (!platform_->StartUnits(options_.simulateUnits, options_.ports, error)) return false;
  } else if (!platform_->Start(options_.simulate, options_.ports, error)) {
    return false;
  }
  if (!ApplySimulatedFaults(error)) return false;

  window_ = std::make_unique<HeadlessWindow>();
  window_->SetLineHandler([this](std::string_view line) { OnLine(line); });
  window_->SetMessageHandler(
      [](const std::string& text) { std::fprintf(stderr, "message: %s\n", text.c_str()); });
  window_->SetProgressHandler([this](int id, int position) { OnProgress(id, position); });
  dialog_ = std::make_unique<CKestrumDlg>(*window_, RealClock(), Ports(), HidDevices());
  dialog_->workingDir = PathFromUtf8(options_.dir);
  dialog_->events.Listen(events_.get());
  window_->SetCommandHandler([this](int id) { dialog_->OnCommand(id); });
  dialog_->OnInitDialog();
  return true;
}

bool CliSession::OpenLink(const std::string& link) {
  linkOpened_ = PressOpen(*window_, *dialog_, link);
  if (!linkOpened_) {
    SetFailure("connect", link == "usb" ? "the unit was not found on USB"
                                        : "the serial port could not be opened");
  }
  return linkOpened_;
}

void CliSession::SetFailure(const std::string& step, const std::string& reason) {
  if (!failedStep_.empty()) return;
  failedStep_ = step;
  failureReason_ = reason;
}

void CliSession::Finish() {
  if (!dialog_ || dialog_->Ended()) return;
  if (linkOpened_) PressClose(*window_, *dialog_);
  dialog_->EndDialog();
  // The bar is gone at the end: the verdict line says how the run went.
  if (barShown_) ClearBar();
}

void CliSession::OnLine(std::string_view line) {
  // On a terminal the bar is taken away before the line and drawn again below it, so that
  // the two never run together.
  bool bar = barShown_;
  if (bar) ClearBar();
  if (record_) {
    log_.append(line);
    log_ += '\n';
  }
  if (LogToStdout()) {
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
  }
  if (bar) DrawBar();
  WriteLogJson(line);
}

void CliSession::ReportRunStarted(const std::string& command) {
  if (!events_) return;
  event::RunStarted started;
  started.command = command;
  started.port = Ports().PathOf(RunPort());
  started.toolVersion = MORLANE_VERSION;
  started.started = Iso8601Local(std::time(nullptr));
  // A run kept in the records is named by its run id from its first event on.
  const bool recorded = command == "flash" || command == "auto" || command == "verify";
  if (recorded && !options_.records.empty()) {
    runId_ = NewRunId(static_cast<int64_t>(std::time(nullptr)) * 1000);
    started.runId = runId_;
    started.station = true;
    std::string why;
    SingleUnitId(&started.unitId, &why);
  }
  events_->Report(started);
}

void CliSession::ReportRunEnded(int exitStatus, const std::string& command) {
  if (!events_) return;
  event::RunEnded ended;
  ended.result = exitStatus == kExitOk ? "pass" : "fail";
  if (exitStatus != kExitOk) ended.failedStep = failedStep_.empty() ? command : failedStep_;
  // A recorded run ends with the verdict its record keeps; only what failed after it was
  // kept (a log or events file) can still turn a pass into a fail.
  if (kept_ && !(kept_->result == "pass" && exitStatus != kExitOk)) {
    ended.result = kept_->result;
    ended.failedStep = kept_->failedStep;
  }
  ended.exit = exitStatus;
  events_->Report(ended);
}

bool CliSession::BeginRecord(const std::string& procedure, std::string* why) {
  std::optional<std::string> unitId;
  if (!SingleUnitId(&unitId, why)) return false;
  if (options_.records.empty()) return true;
  store_ = RecordStore::Open(options_.records, RecordStore::Mode::Write, why);
  if (!store_) return false;
  if (!options_.recordsDb.empty()) {
    lineFeed_ = LineFeed::Open(options_.recordsDb, *store_, options_.records, why);
    if (!lineFeed_) {
      *why = "--records-db: " + *why;
      return false;
    }
    lineFeed_->say = [](const std::string& text) {
      std::fprintf(stderr, "morlane-cli: %s\n", text.c_str());
    };
  }
  record_ = StartRecord(
      {options_.station.empty() ? HostName() : options_.station, options_.operatorName}, procedure);
  if (!runId_.empty()) record_->runId = runId_;
  record_->slot = SlotOf(RunPort());
  record_->port = Ports().PathOf(RunPort());
  record_->unitId = unitId;
  if (const package::PackageReport* taken = dialog_->packageChoice.Taken()) {
    record_->package = PackageRecordOf(*taken);
  }
  if (options_.skipIdentical && record_->unitId) {
    dialog_->flasher.Programmer().recordedAsHolding = [this](const std::string& cpu,
                                                             const std::string& sha256) {
      return LastPassedWith(*store_, *record_->unitId, cpu, sha256);
    };
  }
  return true;
}

bool CliSession::TakePackage(const std::string& needed) {
  const std::string path = PathOf(options_.package);
  const std::string keys = options_.trustedKeys.empty() ? "" : PathOf(options_.trustedKeys);
  PackageChoice& choice = dialog_->packageChoice;
  const bool taken =
      choice.Open(path, package::TrustFor(keys, options_.allowUnsigned, options_.model));
  // One line names the cause: the run's verdict line, "FAIL: package: FILE refused: WHY".
  auto refuse = [this, &choice](std::string why) {
    choice.Clear();
    SetFailure("package", options_.package + " refused: " + why);
    return false;
  };
  if (!taken) return refuse(choice.Refusal());
  const bool cpus = needed.empty();
  if (cpus ? choice.ImageName("master").empty() && choice.ImageName("slave").empty()
           : choice.ImageName(needed).empty()) {
    return refuse(cpus ? "it holds no image for the master or the slave"
                       : "it holds no image for the " + needed);
  }
  const package::PackageReport& report = *choice.Taken();
  if (events_) {
    events_->Report(event::Package{path, report.sha256, report.manifest->model,
                                   report.manifest->release,
                                   report.signer ? report.signer->fingerprint : ""});
  }
  return true;
}

std::string CliSession::PackageImageName(const std::string& target) const {
  return dialog_->packageChoice.ImageName(target);
}

bool CliSession::SingleUnitId(std::optional<std::string>* unitId, std::string* why) const {
  std::map<std::string, std::string> unitIds;
  const std::string slot = SlotOf(RunPort());
  if (!UnitIdsBySlot(options_.unitIds, {slot}, &unitIds, why)) return false;
  if (auto id = unitIds.find(slot); id != unitIds.end()) *unitId = id->second;
  return true;
}

int CliSession::RunPort() const {
  if (linkOpened_ && dialog_ && dialog_->session.comPortNumber > 0) {
    return dialog_->session.comPortNumber;
  }
  // Before the search: the first port it will try.
  if (platform_) {
    SerialPortFactory& ports = platform_->Ports();
    const int last = std::max(CSerialLink::kMaxPort, ports.NumberBeyondSearch());
    for (int n = 1; n <= last; ++n) {
      if (!ports.PathOf(n).empty()) return n;
    }
  }
  return 1;
}

std::string CliSession::SlotOf(int comNumber) {
  return "COM" + std::to_string(comNumber);
}

void CliSession::RecordImages(const std::string& path, const std::string& given, int passed) {
  if (!record_) return;
  AddImages(*record_, GangJob{.procedure = record_->procedure, .path = path, .file = given}, passed,
            *dialog_, false);
}

bool CliSession::KeepRecord(int exitStatus, std::string* why) {
  if (!record_ || !store_) return true;
  // The record names the port the run went through, should the search have passed over
  // the first for one that was free.
  if (linkOpened_) {
    record_->slot = SlotOf(RunPort());
    record_->port = Ports().PathOf(RunPort());
  }
  FinishRecord(*record_, {.procedurePassed = exitStatus == kExitOk, .opened = linkOpened_});
  const bool kept = store_->Commit(*record_, log_, why);
  if (!kept) *why += "; it is kept " + KeepRefusedRun(UnkeptRunsFolder(), *record_, log_);
  kept_ = std::move(record_);
  record_.reset();
  if (kept && lineFeed_) lineFeed_->Send();
  return kept;
}

void CliSession::WriteLogJson(std::string_view text) {
  if (!json_) return;
  std::string encoded = JsonString(text);
  if (std::fprintf(json_, "%s\n", encoded.c_str()) < 0 || std::fflush(json_) != 0) {
    jsonFailed_ = true;
  }
}

void CliSession::OnProgress(int id, int position) {
  if (id != ctl::kProgressBar || options_.quiet || !IsTerminal(stderr)) return;
  barPosition_ = position;
  DrawBar();
}

void CliSession::DrawBar() {
  int filled = std::clamp(barPosition_, 0, 100) / 5;
  std::fprintf(stderr, "\r[%-20s] %3d %%", std::string(static_cast<size_t>(filled), '#').c_str(),
               barPosition_);
  std::fflush(stderr);
  barShown_ = true;
}

void CliSession::ClearBar() {
  // "[" + 20 + "] " + "100 %" at the most.
  std::fprintf(stderr, "\r%*s\r", 28, "");
  std::fflush(stderr);
  barShown_ = false;
}

bool UnitIdsBySlot(const std::vector<std::string>& given, const std::set<std::string>& slots,
                   std::map<std::string, std::string>* ids, std::string* why) {
  std::map<std::string, std::string> slotOf;  // unit id -> slot
  for (const std::string& pair : given) {
    const size_t equals = pair.find('=');
    // The slot's name in any case, as Windows takes "com3" for COM3.
    std::string slot = pair.substr(0, equals);
    for (size_t i = 0; i < 3 && i < slot.size(); ++i) {
      slot[i] = static_cast<char>(std::toupper(static_cast<unsigned char>(slot[i])));
    }
    const bool comName = slot.rfind("COM", 0) == 0 && slot.size() > 3 && slot.size() <= 7 &&
                         slot[3] != '0' &&
                         slot.find_first_not_of("0123456789", 3) == std::string::npos;
    if (equals == std::string::npos || !comName) {
      *why = UnitIdRefusal(pair).empty() ? "--unit-id takes COMn=ID, not \"" + pair + "\""
                                         : std::string("--unit-id takes COMn=ID");
      return false;
    }
    const std::string id = pair.substr(equals + 1);
    if (std::string refused = UnitIdRefusal(id); !refused.empty()) {
      *why = "--unit-id " + slot + "=...: " + refused;
      return false;
    }
    if (slots.count(slot) == 0) {
      *why = "--unit-id " + pair + ": no unit of this run is on " + slot;
      return false;
    }
    if (!ids->emplace(slot, id).second) {
      *why = "--unit-id names " + slot + " twice";
      return false;
    }
    if (auto [other, added] = slotOf.emplace(id, slot); !added) {
      *why = "--unit-id gives " + id + " to " + other->second + " and " + slot +
             ": one unit cannot be on two slots";
      return false;
    }
  }
  return true;
}

}  // namespace morlane
