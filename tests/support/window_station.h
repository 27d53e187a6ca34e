#pragma once

#include <functional>
#include <string>
#include <vector>

#include "support/process.h"

namespace morlane::test {

// An operator's shift at a station's window, the same for the Qt window and the Windows
// one. Two fixtures, A and B, each a simulated unit of its own; the profile starts units by
// their presence, both labels are scanned at the start:
//  1. A's unit is in its fixture: it runs under its label and passes.
//  2. A's unit is taken out and a new one put in, without a label; once its images are
//     read, a file that is not the approved one is copied over the slave's image, and B's
//     unit is put in: B fails at "image" with not a byte sent to it, and the station
//     starts no unit after it (a station fault). A's unit still gets the approved bytes.
//  3. While A's unit runs the operator stops the station (stop): the unit finishes and
//     passes, is recorded, and the window ends with 0.
// The window's events and the records are checked after it ends.
class WindowStationShift {
 public:
  // The images and "line1.toml" are written in dir; A and B start out of their fixtures.
  // ports: the profile's names of A's and B's ports.
  WindowStationShift(const TempDir& dir, SimProcess& a, SimProcess& b,
                     const std::vector<std::string>& ports);

  // The window's own arguments, relative to dir (the window starts there).
  std::vector<std::string> WindowArguments() const;
  // Drives the shift with the window started; window.Wait gives its end.
  void Drive(Background& window, const std::function<void()>& stop);
  // The records of the shift as `records list --json` gives them, newest first.
  std::function<std::vector<std::string>()> records;

 private:
  const TempDir& dir_;
  SimProcess& a_;
  SimProcess& b_;
};

}  // namespace morlane::test
