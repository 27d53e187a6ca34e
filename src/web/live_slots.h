#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "records/line_database.h"
#include "records/live_state.h"

namespace morlane::web {

// Where the dashboard reads the stations' live slots from. A running station hands its
// own; the line's database holds what every station feeding it reported; a dashboard over
// a station's records alone has none.
class SlotSource {
 public:
  virtual ~SlotSource() = default;
  // Called from the server's threads, any number at once.
  virtual std::vector<LiveStation> Stations() = 0;
};

// The live states the stations reported to the line's database, read over a connection of
// its own (the runs' queries never wait for it, nor it for them).
class LineSlots : public SlotSource {
 public:
  explicit LineSlots(const std::string& url) : database_(url) {}
  // What the database holds now; none while it cannot be read (the runs' own queries say
  // why to the operator).
  std::vector<LiveStation> Stations() override;

 private:
  std::mutex mutex_;
  LineDatabase database_;
};

}  // namespace morlane::web
