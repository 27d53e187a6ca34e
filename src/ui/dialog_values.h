#pragma once

#include <array>
#include <string>

namespace morlane {

class Window;

// The dialog's member values bound to its check boxes and edit box. The data exchange
// copies them from the controls (Save) before a handler reads them and into the controls
// (Load) when the dialog initialises.
struct DialogValues {
  int q1 = 1;
  int lf = 0;
  int bl = 0;
  int modeAuto = 0;  // 1016 "Auto", also entry 3 of the command table
  int v2 = 0;
  int v3 = 0;
  int btun = 0;
  int si = 0;
  int brr = 0;
  int uas = 0;
  int cf = 0;
  int cf2 = 0;
  int fwv = 0;
  int plusEnter = 1;
  int protectSectionChecked = 0;
  std::string commandText;  // edit 1009, at most kCommandTextLimit characters

  static constexpr size_t kCommandTextLimit = 35;

  void SaveFromControls(const Window& window);
  void LoadIntoControls(Window& window) const;
};

// What a firmware file's path says of the CPU it is for. The whole path is searched,
// folders included, case-sensitively, for "Master" or "master" and "Slave" or "slave"; a
// path with neither or both leaves the CPU to chance, and is never taken as either.
enum class PathCpu { Master, Slave, Neither, Both };
PathCpu CpuNamedInPath(const std::string& path);

// The firmware file picked with "Select Firmware File".
struct FirmwareSelection {
  std::string firmwarePath;
  int cpuTarget = 0;  // 0 master CPU, 1 slave CPU
};

}  // namespace morlane
