#pragma once

#include <optional>
#include <string>
#include <vector>

namespace morlane::web {

// One slot of a station as it stands now, for the page's live view.
struct LiveSlot {
  std::string station;
  std::string slot;
  std::string state;  // as the station names it: "idle", "running", "pass", "fail", ...
  std::optional<std::string> unitId;
  std::string step;  // the step under way, or the one that ended the last unit
  int percent = 0;
  std::string since;  // when the slot took this state, ISO 8601 with offset
  std::optional<std::string> operatorName;
  std::vector<std::string> imageDigests;  // SHA-256 of the images the slot programs
};

// Where the dashboard reads live slots from. A running station hands its own; a dashboard
// over records alone has none.
class SlotSource {
 public:
  virtual ~SlotSource() = default;
  // Called from the server's threads, any number at once.
  virtual std::vector<LiveSlot> Slots() = 0;
};

// The slot as one JSON object on one line, without a line feed.
std::string LiveSlotJson(const LiveSlot& slot);

}  // namespace morlane::web
