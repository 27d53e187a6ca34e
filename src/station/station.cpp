#include "station/station.h"

#include <chrono>
#include <cstdio>
#include <filesystem>

#include "platform/utf8_path.h"
#include "records/unit_id.h"
#include "records/unkept_runs.h"
#include "station/presence.h"

namespace morlane {

namespace {

int64_t SteadyMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

std::string IdText(const std::optional<std::string>& unitId) {
  return unitId ? *unitId : "-";
}

std::vector<std::string> Words(std::string_view line) {
  std::vector<std::string> words;
  size_t at = 0;
  while (at < line.size()) {
    const size_t begin = line.find_first_not_of(" \t\r\n", at);
    if (begin == std::string_view::npos) break;
    size_t end = line.find_first_of(" \t\r\n", begin);
    if (end == std::string_view::npos) end = line.size();
    words.emplace_back(line.substr(begin, end - begin));
    at = end;
  }
  return words;
}

std::string Seconds(double seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f s", seconds);
  return text;
}

}  // namespace

Station::Station(const StationProfile& profile, SerialPortFactory& ports,
                 std::vector<StationPort> slots, RecordStore& store, StationIdentity identity)
    : profile_(profile), ports_(ports), store_(store), identity_(std::move(identity)) {
  if (!profile.unitIdPattern.empty()) {
    // The profile's reader compiled it already; a pattern that still does not compile
    // (a profile made in code) takes no unit id rather than every one.
    try {
      unitIdPattern_.emplace(profile.unitIdPattern, std::regex::ECMAScript);
    } catch (const std::regex_error&) {
      unitIdPattern_.emplace("(?!)", std::regex::ECMAScript);
    }
  }
  job_.procedure = profile.procedure;
  job_.approved = profile.images;
  job_.package = profile.package;
  job_.retries = profile.retries;
  job_.skipIdentical = profile.skipIdentical;
  job_.profile = profile.sha256;
  job_.command = "station " + profile.procedure;
  job_.unkeptFolder = UnkeptRunsFolder();
  if (profile.procedure == "flash" && !profile.images.empty()) {
    job_.path = profile.images[0].path;
    job_.file = profile.images[0].file;
  }
  for (StationPort& port : slots) {
    auto slot = std::make_unique<Slot>();
    slot->view.name = port.name;
    slot->view.port = port.path;
    const std::string stableId = port.stableId;
    slot->unit = std::make_unique<GangUnit>(std::move(port), ports_, control_);
    slot->unit->portId = stableId;
    slots_.push_back(std::move(slot));
  }
}

Station::~Station() {
  Finish();
  Join();
}

void Station::CheckPorts() {
  for (auto& owned : slots_) {
    Slot& slot = *owned;
    slot.probe = std::make_unique<PresenceProbe>(ports_, slot.unit->Entry());
    PortOpenError error = PortOpenError::None;
    std::unique_ptr<SerialPort> port = ports_.Open(slot.unit->Entry(), &error);
    if (port) {
      // Kept open for the first ask: an adapter sets its control lines at every open.
      if (PresenceStarts()) slot.probe->Adopt(std::move(port));
      continue;
    }
    const std::string& name = slot.view.name;
    const std::string& path = slot.view.port;
    // A unit that brings its own USB port makes it appear when it is plugged in.
    if (PresenceStarts() && error == PortOpenError::NotFound) {
      Remark(name + ": " + path + " is not there yet: the slot waits for its unit");
      continue;
    }
    const std::string why =
        error == PortOpenError::Busy ? "held by another program" : PortOpenErrorText(error);
    {
      std::lock_guard lock(mutex_);
      slot.view.phase = SlotPhase::OutOfService;
      slot.view.outOfService = path + ": " + why;
    }
    Remark(name + ": out of service: its port " + path + " " +
           (error == PortOpenError::Busy ? "is " : "") + why +
           "; it takes no unit until the station starts again");
  }
}

void Station::SetFault(const std::string& fault) {
  {
    std::lock_guard lock(mutex_);
    if (!fault_.empty()) return;
    fault_ = fault;
    allPassed_ = false;
    wake_.notify_all();
  }
  Remark("station fault: " + fault +
         "; no unit starts until the station is started again (running units finish)");
}

std::string Station::Fault() {
  std::lock_guard lock(mutex_);
  return fault_;
}

bool Station::ReadyForUnit() {
  {
    std::lock_guard lock(mutex_);
    if (!fault_.empty()) return false;
  }
  std::string why;
  if (store_.TakesRuns(&why)) return true;
  SetFault("records cannot be kept (" + why + ")");
  return false;
}

void Station::Start() {
  CheckPorts();
  for (auto& owned : slots_) {
    Slot& slot = *owned;
    GangUnit& unit = *slot.unit;
    unit.events = events;
    unit.onLine = [this](const std::string& name, std::string_view line) {
      if (onLine) onLine(name, line);
    };
    unit.onMessage = [this](const std::string& name, const std::string& text) {
      Remark(name + ": message: " + text);
    };
    unit.afterKept = [this] {
      if (afterKept) afterKept();
    };
    slot.thread = std::thread([this, &slot] { Loop(slot); });
  }
}

void Station::Remark(const std::string& text) {
  {
    std::lock_guard lock(remarkMutex_);
    ++lastRemark_.number;
    lastRemark_.text = text;
  }
  if (onRemark) onRemark(text);
}

Station::LastRemark Station::NewestRemark() {
  std::lock_guard lock(remarkMutex_);
  return lastRemark_;
}

Station::Slot* Station::SlotNamed(std::string_view name) {
  for (auto& slot : slots_) {
    if (slot->view.name == name) return slot.get();
  }
  return nullptr;
}

Station::Slot* Station::SlotHolding(const std::string& unitId) {
  for (auto& slot : slots_) {
    const SlotView& view = slot->view;
    if (view.nextId == unitId) return slot.get();
    if (view.phase == SlotPhase::Running && view.unitId == unitId) return slot.get();
  }
  return nullptr;
}

std::optional<std::string> Station::Operator() {
  std::lock_guard lock(mutex_);
  return identity_.operatorName;
}

std::string Station::UnitIdRule(const std::string& unitId, std::string* warning) {
  if (unitIdPattern_) {
    bool matches = false;
    try {
      matches = std::regex_match(unitId, *unitIdPattern_);
    } catch (const std::regex_error&) {
      // A pattern too costly for this id: it is no id the line can vouch for.
    }
    if (!matches) {
      return unitId + " does not match unit_id_pattern \"" + profile_.unitIdPattern +
             "\": not started";
    }
  }
  if (profile_.rescan == "allow") return {};
  // Passed here: a passing run of this station's name in its store, whichever shift kept it.
  RunFilter filter;
  filter.unitId = unitId;
  filter.result = "pass";
  filter.station = identity_.station;
  filter.limit = 1;
  std::string error;
  const std::vector<RunRecord> passed = store_.Summaries(filter, &error);
  if (!error.empty()) {
    // Whether it passed cannot be told: a line that refuses units run again does not start
    // one it cannot vouch for.
    if (profile_.rescan == "refuse") {
      return "cannot tell whether " + unitId + " passed here before (" + error + "): not started";
    }
    *warning = "cannot tell whether " + unitId + " passed here before: " + error;
    return {};
  }
  if (passed.empty()) return {};
  const std::string when = passed[0].started;
  if (profile_.rescan == "refuse") {
    return unitId + " passed here before (" + when + "): not started (rescan = \"refuse\")";
  }
  *warning = "warning: " + unitId + " passed here before (" + when + "); it runs again";
  return {};
}

std::string Station::Scan(std::string_view line) {
  // The operator's badge: the name is the rest of the line, blanks and all.
  if (const std::string& prefix = profile_.operatorPrefix; !prefix.empty()) {
    const size_t begin = line.find_first_not_of(" \t\r\n");
    const size_t end = line.find_last_not_of(" \t\r\n");
    const std::string_view scanned =
        begin == std::string_view::npos ? std::string_view() : line.substr(begin, end - begin + 1);
    if (scanned.substr(0, prefix.size()) == prefix) {
      const std::vector<std::string> words = Words(scanned.substr(prefix.size()));
      std::string name;
      for (const std::string& word : words) {
        if (!name.empty()) name += ' ';
        name += word;
      }
      if (name.empty()) return "a badge without a name: the operator stays as it was";
      if (std::string why = UnitIdRefusal(name); !why.empty()) {
        return "badge refused (" + why + "): the operator stays as it was";
      }
      {
        std::lock_guard lock(mutex_);
        identity_.operatorName = name;
      }
      Remark("operator: " + name + " (for the units that start from now)");
      return {};
    }
  }
  const std::vector<std::string> words = Words(line);
  if (words.empty()) return {};
  // Checked before any word is said back: a refusal that quoted an escape sequence would
  // play it on the operator's terminal.
  for (const std::string& word : words) {
    if (std::string why = UnitIdRefusal(word); !why.empty()) return why + ": not started";
  }
  // A label with a space in it reads as SLOT UNIT_ID; when its first word names no slot,
  // it is that label, and would start a unit under a piece of its id.
  if (words.size() >= 2 && !SlotNamed(words[0])) {
    std::string label;
    for (const std::string& word : words) {
      if (!label.empty()) label += ' ';
      label += word;
    }
    return "the label \"" + label + "\" holds a space, and " + words[0] +
           " names no slot: not started";
  }
  if (words.size() > 2) {
    // Built by appending: "\"" + std::string(...) trips a false overlap warning of GCC 12.
    std::string why(1, '"');
    for (const std::string& word : words) {
      if (why.size() > 1) why += ' ';
      why += word;
    }
    why += "\" is no scan: give UNIT_ID or SLOT UNIT_ID";
    return why;
  }
  const std::string& unitId = words.back();
  // Asked before the slots are locked: the store's answer may take a while.
  std::string warning;
  if (std::string why = UnitIdRule(unitId, &warning); !why.empty()) return why;
  if (!ReadyForUnit()) return "station fault: " + Fault() + ": " + unitId + " not started";
  std::lock_guard lock(mutex_);
  if (finishing_) return "the station is stopping: " + unitId + " not started";
  if (Slot* holding = SlotHolding(unitId)) {
    return unitId + " is already on slot " + holding->view.name;
  }
  auto busy = [](const Slot& slot) {
    return slot.view.phase == SlotPhase::Running || slot.view.phase == SlotPhase::OutOfService ||
           slot.startRequested;
  };
  Slot* target = nullptr;
  if (words.size() == 2) {
    target = SlotNamed(words[0]);
    if (target->view.phase == SlotPhase::OutOfService) {
      return "slot " + words[0] + " is out of service (" + target->view.outOfService +
             "): " + unitId + " not started";
    }
    if (busy(*target)) {
      const SlotView& view = target->view;
      return "slot " + words[0] + " is busy with " +
             IdText(view.phase == SlotPhase::Running ? view.unitId : view.nextId) + ": " + unitId +
             " not started";
    }
  } else {
    // Presence alone: a unit already there waiting for its id comes first, then a slot that
    // has none scanned for it. A scan start takes the first slot not running.
    for (auto& slot : slots_) {
      if (!busy(*slot) && slot->view.phase == SlotPhase::Present) {
        target = slot.get();
        break;
      }
    }
    for (auto& slot : slots_) {
      if (target) break;
      if (!busy(*slot) && (ScanStarts() || !slot->view.nextId)) target = slot.get();
    }
    if (!target) return "no slot is free: " + unitId + " not started";
  }
  if (target->view.nextId) {
    Remark(target->view.name + ": " + unitId + " replaces " + *target->view.nextId);
  }
  if (!warning.empty()) Remark(target->view.name + ": " + warning);
  target->view.nextId = unitId;
  if (ScanStarts() || target->view.phase == SlotPhase::Present) target->startRequested = true;
  wake_.notify_all();
  return {};
}

void Station::Loop(Slot& slot) {
  {
    std::lock_guard lock(mutex_);
    if (slot.view.phase == SlotPhase::OutOfService) return;
  }
  Serve(slot);
  slot.probe->Close();
}

void Station::Serve(Slot& slot) {
  for (;;) {
    std::optional<std::string> unitId;
    bool start = false;
    {
      std::unique_lock lock(mutex_);
      auto ready = [&] { return finishing_ || slot.startRequested; };
      // After a station fault nothing starts: the slot only waits for the end.
      if (!fault_.empty()) {
        wake_.wait(lock, [&] { return finishing_; });
        return;
      }
      if (PresenceStarts()) {
        wake_.wait_for(lock, std::chrono::milliseconds(presencePeriodMs), ready);
      } else {
        wake_.wait(lock, ready);
      }
      if (finishing_) return;
      if (slot.startRequested) {
        start = true;
        slot.startRequested = false;
        unitId = slot.view.nextId;
        slot.view.nextId.reset();
        MarkRunning(slot, unitId);
      }
    }
    if (!start) {
      // Asked outside the lock: the answer takes up to presenceAnswerMs.
      const bool answers = slot.probe->UnitAnswers(presenceAnswerMs);
      std::lock_guard lock(mutex_);
      if (finishing_) return;
      if (slot.startRequested) continue;
      SlotView& view = slot.view;
      if (view.awaitingRemoval) {
        // The unit just run is still in its fixture: it is no new unit. It is taken out only
        // once silent for the profile's time over two asks at least: a unit busy after its
        // run may miss an ask, and would be started again under the next label.
        if (answers) {
          slot.silentAsks = 0;
        } else if (++slot.silentAsks == 1) {
          slot.silentSinceMs = SteadyMs();
        } else if (SteadyMs() - slot.silentSinceMs >= profile_.presenceAbsentMs) {
          view.awaitingRemoval = false;
        }
        continue;
      }
      if (!answers) {
        if (view.phase == SlotPhase::Present) view.phase = SlotPhase::Idle;
        continue;
      }
      if (profile_.requireUnitId && !view.nextId) {
        if (view.phase != SlotPhase::Present) {
          view.phase = SlotPhase::Present;
          Remark(view.name + ": a unit is present; scan its unit id to start it");
        }
        continue;
      }
      unitId = view.nextId;
      view.nextId.reset();
      MarkRunning(slot, unitId);
    }
    slot.probe->Close();  // the unit's run opens the port for itself
    if (!ReadyForUnit()) {
      {
        std::lock_guard lock(mutex_);
        slot.view.phase = SlotPhase::Idle;
      }
      Remark(slot.view.name + ": " + IdText(unitId) + " not started: station fault: " + Fault());
      continue;
    }
    RunUnit(slot, unitId);
    {
      std::lock_guard lock(mutex_);
      if (slot.view.phase == SlotPhase::OutOfService) return;
    }
    if (PresenceStarts()) {
      std::lock_guard lock(mutex_);
      slot.view.awaitingRemoval = true;
      slot.silentAsks = 0;
    }
  }
}

void Station::MarkRunning(Slot& slot, const std::optional<std::string>& unitId) {
  SlotView& view = slot.view;
  view.phase = SlotPhase::Running;
  view.unitId = unitId;
  view.step.clear();
  view.percent = 0;
  view.result.clear();
  view.failedStep.clear();
  view.reason.clear();
  view.instruction.clear();
  slot.startedMs = SteadyMs();
}

void Station::RunUnit(Slot& slot, const std::optional<std::string>& unitId) {
  GangUnit& unit = *slot.unit;
  StationIdentity identity;
  {
    std::lock_guard lock(mutex_);
    identity = identity_;
  }
  const std::string& name = unit.Name();
  if (onNotice) onNotice(name + " " + IdText(unitId) + " started");
  unit.unitId = unitId;
  const std::string workingDir =
      profile_.images.empty() ? std::string()
                              : PathToUtf8(PathFromUtf8(profile_.images[0].path).parent_path());
  unit.Run(job_, workingDir, store_, identity);
  // The unit decided its verdict as its run was kept: what the slot shows is that one.
  const RunRecord& record = unit.record;
  const std::string result = record.result;
  const std::string failedStep = record.failedStep;
  const double seconds = static_cast<double>(record.endedMs - record.startedMs) / 1000.0;
  const int lastPercent = unit.View().percent;
  const auto instruction =
      result == "fail" ? profile_.instructions.find(failedStep) : profile_.instructions.end();
  {
    std::lock_guard lock(mutex_);
    SlotView& view = slot.view;
    view.phase = SlotPhase::Done;
    view.result = result;
    view.failedStep = failedStep;
    view.reason = unit.failReason;
    ++view.runsEnded;
    if (instruction != profile_.instructions.end()) view.instruction = instruction->second;
    view.seconds = seconds;
    // A failed unit's bar stays where its step stopped: the operator sees how far it got.
    view.percent = result == "pass" ? 100 : lastPercent;
    if (result == "pass") {
      ++tally_.passed;
    } else {
      ++tally_.failed;
      allPassed_ = false;
    }
    // A unit without an id is a unit of its own; one with an id is counted once a shift,
    // its first run deciding its first-pass yield.
    const bool firstRun = !unitId || seenUnits_.emplace(*unitId, result == "pass").second;
    if (firstRun) {
      ++tally_.units;
      if (result == "pass") ++tally_.firstPassUnits;
    }
  }
  if (onNotice) {
    const std::string head = name + " " + IdText(unitId) + " ";
    if (result == "pass") {
      onNotice(head + "PASS " + Seconds(seconds));
    } else if (result == "aborted") {
      onNotice(head + "ABORTED " + Seconds(seconds));
    } else {
      onNotice(head + "FAIL " + failedStep + " " + Seconds(seconds));
      if (instruction != profile_.instructions.end()) onNotice(head + "do: " + instruction->second);
    }
  }
  if (!unit.stationFault.empty()) SetFault(unit.stationFault);
  if (!unit.slotFault.empty()) {
    {
      std::lock_guard lock(mutex_);
      slot.view.phase = SlotPhase::OutOfService;
      slot.view.outOfService = unit.slotFault;
    }
    Remark(name + ": out of service: its port " + unit.slotFault +
           "; it takes no unit until the station starts again");
  }
}

void Station::Finish() {
  std::lock_guard lock(mutex_);
  if (finishing_) return;
  finishing_ = true;
  for (auto& slot : slots_) {
    if (slot->startRequested && slot->view.nextId) {
      Remark(slot->view.name + ": " + *slot->view.nextId + " not started: the station is stopping");
    }
    slot->startRequested = false;
  }
  wake_.notify_all();
}

void Station::StopNow() {
  control_.abortNow = true;
  Finish();
}

void Station::Join() {
  for (auto& slot : slots_) {
    if (slot->thread.joinable()) slot->thread.join();
  }
}

bool Station::Busy() {
  std::lock_guard lock(mutex_);
  for (auto& slot : slots_) {
    if (slot->view.phase == SlotPhase::Running || slot->startRequested) return true;
  }
  return false;
}

std::vector<SlotView> Station::View() {
  std::vector<SlotView> views;
  std::lock_guard lock(mutex_);
  const int64_t now = SteadyMs();
  for (auto& slot : slots_) {
    SlotView view = slot->view;
    if (view.phase == SlotPhase::Running) {
      const UnitView unit = slot->unit->View();
      view.step = unit.step;
      view.percent = unit.percent;
      view.seconds = static_cast<double>(now - slot->startedMs) / 1000.0;
    }
    views.push_back(std::move(view));
  }
  return views;
}

StationTally Station::Tally() {
  std::lock_guard lock(mutex_);
  return tally_;
}

}  // namespace morlane
