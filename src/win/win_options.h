#pragma once

#include <string>
#include <vector>

namespace morlane::win {

struct WinOptions {
  bool simulate = false;           // the simulated unit inside the process
  std::vector<std::string> ports;  // COM1, COM2, ... in this order
  bool service = false;            // start with the service view on
  std::string screenshot;          // save the window (BMP, or PNG by name) once shown, then end
  std::string instanceTag;         // separate single-instance group (tests, screenshots)
  // The simulated unit's fault switches, "SWITCH[=VALUE]".
  std::vector<std::string> simulateFaults;
  std::string station;         // a station profile
  bool chooseStation = false;  // the station profile asked for with a file dialog
  std::string events;          // the station's events as NDJSON
  std::string operatorName;    // the operator of the station's runs
  std::string simulateUnits;
  std::vector<std::string> scans;
  std::string screenshotDelayMs;
  bool screenshotPortList = false;   // the port box's list dropped down in the picture
  bool screenshotMaximised = false;  // the window maximised in the picture
};

enum class ParseOutcome { Run, Help, Version, Usage };

// Parses the program's arguments (without the program's name). Usage: message says what
// is wrong.
ParseOutcome ParseWinOptions(const std::vector<std::string>& arguments, WinOptions* options,
                             std::string* message);
// Whether options that only a window of its own could apply were given (not the instance
// group's tag, which is how the running window was found).
bool WindowOptionsGiven(const WinOptions& options);
std::string HelpText();
// "morlane" and the version of the build.
std::string VersionText();

}  // namespace morlane::win
