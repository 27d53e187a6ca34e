#include "web/live_slots.h"

#include "ui/json_text.h"

namespace morlane::web {

namespace {

std::string OrNull(const std::optional<std::string>& text) {
  return text ? JsonString(*text) : std::string("null");
}

}  // namespace

std::string LiveSlotJson(const LiveSlot& slot) {
  std::string digests;
  for (const std::string& digest : slot.imageDigests) {
    digests += (digests.empty() ? "" : ", ") + JsonString(digest);
  }
  return "{\"station\": " + JsonString(slot.station) + ", \"slot\": " + JsonString(slot.slot) +
         ", \"state\": " + JsonString(slot.state) + ", \"unit_id\": " + OrNull(slot.unitId) +
         ", \"step\": " + JsonString(slot.step) + ", \"percent\": " + std::to_string(slot.percent) +
         ", \"since\": " + JsonString(slot.since) + ", \"operator\": " + OrNull(slot.operatorName) +
         ", \"image_sha256\": [" + digests + "]}";
}

}  // namespace morlane::web
