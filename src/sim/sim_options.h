#pragma once

#include <string>

#include "sim/sim_faults.h"
#include "sim/sim_unit.h"

namespace morlane::sim {

// Fault switches from the command line: --silent, --answer-delay-ms N,
// --no-selection-echo, --no-autobaud-echo, --refuse-erase, --drop-acks-after N,
// --corrupt-result-frame N, --verify-mismatch, --line-gone-after N, --mcu-silent,
// --mcu-top-bit, --mcu-error-after N, --mcu-size-07.
bool ApplyOptions(int argc, char** argv, SimFaults& faults, std::string* error);
const char* OptionsUsage();
// What the unit prints on stderr when it ends (flash contents summary).
void ReportOnExit(SimUnit& unit);

}  // namespace morlane::sim
