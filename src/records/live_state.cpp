#include "records/live_state.h"

#include "ui/json_text.h"

namespace morlane {
namespace {

std::string OrNull(const std::optional<std::string>& text) {
  return text ? JsonString(*text) : "null";
}

}  // namespace

std::string LiveSlotJson(const LiveStation& station, const LiveSlot& slot) {
  std::string out =
      "{\"station\": " + JsonString(station.station) + ", \"slot\": " + JsonString(slot.slot) +
      ", \"state\": " + JsonString(slot.state) + ", \"unit_id\": " + OrNull(slot.unitId) +
      ", \"step\": " + JsonString(slot.step) + ", \"percent\": " + std::to_string(slot.percent) +
      ", \"since\": " + JsonString(slot.since) + ", \"operator\": " + OrNull(slot.operatorName) +
      ", \"image_sha256\": [";
  for (size_t i = 0; i < slot.images.size(); ++i) {
    out += (i ? ", " : "") + JsonString(slot.images[i]);
  }
  return out + "], \"online\": " + std::string(station.online ? "true" : "false") + "}";
}

std::string LiveSlotsJson(const std::vector<LiveStation>& stations) {
  std::string out = "[";
  for (const LiveStation& station : stations) {
    for (const LiveSlot& slot : station.slots) {
      if (out.size() > 1) out += ", ";
      out += LiveSlotJson(station, slot);
    }
  }
  return out + "]";
}

std::string LiveStationsJson(const std::vector<LiveStation>& stations) {
  std::string out = "[";
  for (const LiveStation& station : stations) {
    if (out.size() > 1) out += ", ";
    out += "{\"station\": " + JsonString(station.station) +
           ", \"backlog\": " + std::to_string(station.backlog) +
           ", \"reported\": " + JsonString(station.reported) +
           ", \"online\": " + std::string(station.online ? "true" : "false") + "}";
  }
  return out + "]";
}

}  // namespace morlane
