#pragma once

#include <cstdint>
#include <string>

#include "records/run_record.h"
#include "station/station.h"

namespace morlane {

// What a slot's tile shows, in words and a colour, the same in both windows.
struct TileLook {
  std::string unit;   // "Unit: SN123", and "   next: SN124" when a label waits
  std::string step;   // running: its step; a unit still in its fixture: "take the unit out"
  std::string time;   // running or done: "12.7 s"
  std::string state;  // "IDLE", "SCAN ID", "RUNNING", "PASS", "FAIL erase", "ABORTED",
                      // "OUT OF SERVICE"
  // Failed: why, in words; out of service: the port and why.
  std::string reason;
  std::string instruction;  // failed: the profile's instruction for the step, if any
  uint32_t color;           // the state's background, 0xRRGGBB (white text on it)
};

TileLook LookOf(const SlotView& view);

// The banner across the top of the operator's screen while the station has a fault; ""
// when it has none.
std::string FaultBanner(const std::string& fault);

// "Passed 12    Failed 1    First-pass yield 92 %"
std::string CountersLine(const StationTally& tally);

// A line of the station's last runs, its start in local time:
// "2026-12-09 06:01:02   A   SN123   fail at erase".
std::string LastRunLine(const RunRecord& run);

}  // namespace morlane
