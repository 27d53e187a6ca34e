#pragma once

#include <string>
#include <vector>

#include "platform/help_text.h"
#include "sim/sim_faults.h"
#include "sim/sim_unit.h"

namespace morlane::sim {

enum class OptionsOutcome { Run, Help, Version, Usage };

// The fault switches from the command line (--silent, --answer-delay-ms N,
// --reply-delay-ms N, --no-selection-echo, --no-autobaud-echo, --refuse-erase, --drop-acks-after N,
// --corrupt-result-frame N, --verify-mismatch, --line-gone-after N, --mcu-silent,
// --mcu-top-bit, --mcu-error-after N, --mcu-size-07), and -h/--help and --version.
// Usage: error says what is wrong.
OptionsOutcome ApplyOptions(int argc, char** argv, SimFaults& faults, std::string* error);
// One fault switch as "SWITCH[=VALUE]" without its dashes ("reply-delay-ms=100"), as the
// front ends take it for the unit they simulate. False with error set when it is not one.
bool ApplyFaultSwitch(const std::string& text, SimFaults& faults, std::string* error);
// The fault switches as the front ends take them: "refuse-erase", "answer-delay-ms=N", ...
std::vector<std::string> FaultSwitchNames();
// Every option in the order --help lists them.
std::vector<HelpEntry> OptionHelpEntries();
std::string HelpText();
// "morlane-unit-sim VERSION"
std::string VersionText();
// What the unit prints on stderr when it ends (flash contents summary).
void ReportOnExit(SimUnit& unit);

}  // namespace morlane::sim
