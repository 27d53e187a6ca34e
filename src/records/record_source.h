#pragma once

#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "records/record_report.h"
#include "records/run_record.h"

namespace morlane {

// Which runs a query takes; an empty text or the extreme times take every run.
struct RunFilter {
  std::string runId;
  std::string unitId;
  std::string result;
  std::string station;
  std::string release;  // the service package's release the run took its images from
  int64_t sinceMs = std::numeric_limits<int64_t>::min();  // started at or after
  int64_t untilMs = std::numeric_limits<int64_t>::max();  // started before
  int limit = -1;                                         // newest first; -1: all
};

// Where `records` reads runs from: a station's own store, or the line's database. Every
// call says why it failed in *error and returns nothing then.
class RecordSource {
 public:
  virtual ~RecordSource() = default;
  // The runs the filter takes, newest first, with their images.
  virtual std::vector<RunRecord> List(const RunFilter& filter, std::string* error) = 0;
  // The same without the images, which is all a list of runs needs.
  virtual std::vector<RunRecord> Summaries(const RunFilter& filter, std::string* error) = 0;
  // What the yield figures need of each run the filter takes.
  virtual std::vector<YieldRow> YieldRows(const RunFilter& filter, std::string* error) = 0;
  virtual std::optional<RunRecord> Load(const std::string& runId, std::string* error) = 0;
  // The run's log; nullopt when it cannot be read.
  virtual std::optional<std::string> LogOf(const std::string& runId) = 0;
};

}  // namespace morlane
