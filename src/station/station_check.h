#pragma once

#include <string>
#include <vector>

#include "platform/serial_port.h"
#include "station/profile.h"

namespace morlane {

// One thing a station's start depends on, and whether it is ready.
struct StationFinding {
  bool ready = true;
  std::string text;  // "image /srv/line1/master.bin: as approved"
};

// What a start checks, without starting: every image against its digest, the records
// folder (free of another station, taking files, with room), the line's database when the
// profile names one (reachable, and this account may add runs), and every slot's port
// (there and free; with presence start a port not there yet only waits for its unit). The
// records folder and the line's tables are made when missing, as a start makes them.
// records and recordsDb are the ones the station would use (the command line's, else the
// profile's).
std::vector<StationFinding> CheckStation(const StationProfile& profile, const std::string& records,
                                         const std::string& recordsDb, SerialPortFactory& ports);

// "ok: ..." or "not ready: ...".
std::string FindingLine(const StationFinding& finding);

}  // namespace morlane
