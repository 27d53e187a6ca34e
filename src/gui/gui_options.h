#pragma once

#include <QStringList>
#include <string>
#include <vector>

namespace morlane::gui {

struct GuiOptions {
  bool simulate = false;           // the simulated unit inside the process
  bool service = false;            // start with the service view
  std::vector<std::string> ports;  // COM1, COM2, ... in this order
  std::string screenshot;          // save the window as a PNG file once shown, then end
  std::string instanceTag;         // separate single-instance group (tests, screenshots)
  // The simulated unit's fault switches, "SWITCH[=VALUE]".
  std::vector<std::string> simulateFaults;
  std::string station;             // a station profile: the station's view instead of the dialog
  bool chooseStation = false;      // the station profile asked for with a file dialog
  std::string events;              // with station: the slots' events as NDJSON
  std::string operatorName;        // with station: the operator of the runs
  int simulateUnits = 0;           // the station's slots on simulated units
  std::vector<std::string> scans;  // typed into the station's scan field at the start
  int screenshotDelayMs = 500;
};

enum class ParseOutcome { Run, Exit, Usage };

// Whether options that only a window of its own could apply were given (not the instance
// group's tag, which is how the running window was found).
bool WindowOptionsGiven(const GuiOptions& options);

// Parses the program's arguments (the toolkit's own already taken out). Exit: help or
// version was printed; Usage: message holds what is wrong.
ParseOutcome ParseGuiOptions(const QStringList& arguments, GuiOptions* options,
                             std::string* message);

}  // namespace morlane::gui
