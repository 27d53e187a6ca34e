#pragma once

#include <optional>
#include <string>
#include <vector>

namespace morlane {

// One slot of a station as it stands now, as the station reports it to the line.
struct LiveSlot {
  std::string slot;
  // "idle", "present" (a unit answers; its unit id is awaited), "running", the last run's
  // "pass", "fail" or "aborted", "out_of_service", or "stopped" once the station ended.
  std::string state;
  std::optional<std::string> unitId;
  std::string step;  // running: "burn master"; a failed run: its failed step
  int percent = 0;
  std::string since;  // when the slot took this state (ISO 8601 with offset)
  std::optional<std::string> operatorName;
  std::vector<std::string> images;  // SHA-256 of the images the station programs

  bool operator==(const LiveSlot&) const = default;
};

// A station's last report: its slots and how many runs wait in its store for the line.
struct LiveStation {
  std::string station;
  int backlog = 0;
  std::string reported;  // ISO 8601 with offset
  // Reported recently enough to be running: a station reports at least every
  // kLiveHeartbeatSeconds, so one silent for kLiveStaleSeconds has stopped or lost the line.
  bool online = false;
  std::vector<LiveSlot> slots;
};

inline constexpr int kLiveHeartbeatSeconds = 5;
inline constexpr int kLiveStaleSeconds = 15;

// The slots of the stations as one JSON array, each slot with its station:
// [{"station": ..., "slot": ..., "state": ..., "unit_id": ..., "step": ..., "percent": ...,
//   "since": ..., "operator": ..., "image_sha256": [...], "online": ...}]
std::string LiveSlotsJson(const std::vector<LiveStation>& stations);
// One slot, as an object of that array.
std::string LiveSlotJson(const LiveStation& station, const LiveSlot& slot);
// The stations as one JSON array: [{"station": ..., "backlog": ..., "reported": ...,
// "online": ...}]
std::string LiveStationsJson(const std::vector<LiveStation>& stations);

}  // namespace morlane
