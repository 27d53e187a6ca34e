#include "station/station_look.h"

#include <cstdio>

#include "platform/clock.h"

namespace morlane {

namespace {

struct State {
  const char* text;
  uint32_t color;
};

State StateOf(const SlotView& view) {
  switch (view.phase) {
    case SlotPhase::Idle:
      return {"IDLE", 0x6b7280};
    case SlotPhase::Present:
      return {"SCAN ID", 0xb45309};
    case SlotPhase::Running:
      return {"RUNNING", 0x1d4ed8};
    case SlotPhase::OutOfService:
      return {"OUT OF SERVICE", 0x374151};
    case SlotPhase::Done:
      break;
  }
  if (view.result == "pass") return {"PASS", 0x15803d};
  if (view.result == "aborted") return {"ABORTED", 0xc2410c};
  return {"FAIL", 0xb91c1c};
}

}  // namespace

TileLook LookOf(const SlotView& view) {
  TileLook look;
  look.unit = "Unit: " + view.unitId.value_or("-");
  if (view.nextId) look.unit += "   next: " + *view.nextId;
  if (view.phase == SlotPhase::Running) {
    look.step = view.step;
  } else if (view.awaitingRemoval) {
    look.step = "take the unit out";
  }
  if (view.phase == SlotPhase::Running || view.phase == SlotPhase::Done) {
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.1f s", view.seconds);
    look.time = seconds;
  }
  const State state = StateOf(view);
  look.state = state.text;
  if (look.state == "FAIL") {
    look.state += " " + view.failedStep;
    look.reason = view.reason;
    look.instruction = view.instruction;
  }
  if (view.phase == SlotPhase::OutOfService) look.reason = view.outOfService;
  look.color = state.color;
  return look;
}

std::string FaultBanner(const std::string& fault) {
  if (fault.empty()) return {};
  return "STATION FAULT: " + fault + ". No unit starts until the station is started again.";
}

std::string CountersLine(const StationTally& tally) {
  return "Passed " + std::to_string(tally.passed) + "    Failed " + std::to_string(tally.failed) +
         "    First-pass yield " + std::to_string(tally.FirstPassYield()) + " %";
}

namespace {

// The run's start as this machine's clock showed it, "2026-12-09 06:01:02": the operator
// reads the windows by the wall clock, whatever zone the record was written in (the record
// keeps its own offset). A record without its epoch time shows its text as written.
std::string LocalStart(const RunRecord& run) {
  if (run.startedMs <= 0) return run.started;
  std::string local = Iso8601Local(run.startedMs / 1000);
  if (local.size() < 19) return run.started;
  local[10] = ' ';
  return local.substr(0, 19);
}

}  // namespace

std::string LastRunLine(const RunRecord& run) {
  std::string result = run.result;
  if (!run.failedStep.empty()) result += " at " + run.failedStep;
  return LocalStart(run) + "   " + run.slot + "   " + run.unitId.value_or("-") + "   " + result;
}

}  // namespace morlane
