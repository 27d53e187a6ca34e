#include "web/live_slots.h"

namespace morlane::web {

std::vector<LiveStation> LineSlots::Stations() {
  std::lock_guard lock(mutex_);
  std::string error;
  return database_.ReadLive(&error);
}

}  // namespace morlane::web
