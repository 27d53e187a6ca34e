#pragma once

#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "records/live_state.h"
#include "station/station.h"

namespace morlane {

// What a running station reports of itself to the line and its dashboards: each slot's
// state as the operator's screen shows it, since when it stands so, the operator and the
// images the station programs.
class LiveReport {
 public:
  LiveReport(Station& station, std::string name, const StationProfile& profile);

  // The station now (its backlog left at 0: the feed that reports it knows that). From any
  // thread.
  LiveStation Now();

 private:
  struct Standing {
    std::string state;
    std::optional<std::string> unitId;
    std::string since;
  };

  Station& station_;
  std::string name_;
  std::vector<std::string> images_;
  SystemClock clock_;
  std::mutex mutex_;
  std::map<std::string, Standing> standing_;
};

// The slot's state as the line reads it: "idle", "present", "running", the last run's
// result, or "out_of_service".
std::string LiveStateOf(const SlotView& view);

}  // namespace morlane
