#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "records/run_record.h"

namespace morlane {

// A run as one line of `records list`: run_id, started, station, slot, unit_id, result,
// failed_step, separated by tabs, "-" for an absent fact.
std::string RunLine(const RunRecord& run);

// One CSV row (RFC 4180) per image of every run, after a header line; a run that tried no
// image (its port never opened, no image found) still has a row, with the image's columns
// empty, so that no run is missing from an export.
std::string RunsCsv(const std::vector<RunRecord>& runs);

enum class YieldBy { All, Day, Hour, Station, Slot, Step };

// What the figures need of one run; a store of 10^5 runs is read this lean.
struct YieldRow {
  std::string day;   // the station's local day of the start, "2026-12-08"
  std::string hour;  // and its hour, "2026-12-08T11"
  std::string station;
  std::string slot;
  std::optional<std::string> unitId;
  std::string result;
  std::string failedStep;
  int64_t startedMs = 0;
  int64_t endedMs = 0;
  // The seconds the run spent in each step, its images' together: a run that burns both
  // CPUs spent the two burns' sum in "burn". In the order the steps first came.
  std::vector<std::pair<std::string, double>> stepSeconds;

  static YieldRow Of(const RunRecord& run);
  void AddSeconds(std::string_view step, double seconds);
};

// "select=2.110 connect=2.304": an image's seconds as the station's store keeps them.
std::string SecondsText(const std::vector<std::pair<std::string, double>>& seconds);
// The seconds of all of a run's images, one image's after another, as both databases keep
// them with the run for the figures.
std::string StepSecondsText(const std::vector<ImageRecord>& images);
// And back: the steps and seconds of such a text.
std::vector<std::pair<std::string, double>> SecondsFromText(std::string_view text);
// Adds such a text's seconds to row's step seconds.
void AddStepSeconds(std::string_view text, YieldRow& row);

// How long the runs of a group spent in one step: those that reached it.
struct StepTimes {
  std::string step;
  int runs = 0;
  double medianSeconds = 0;
  double p95Seconds = 0;  // nearest rank
};

// The figures of one group of runs.
struct YieldFigures {
  std::string key;  // the day, station, slot or failed step; "all" when not grouped
  int runs = 0;
  int passed = 0;
  int failed = 0;
  int aborted = 0;
  // A unit is known by its unit id; a run without one is a unit of its own, as nothing
  // says otherwise. Its first run is its earliest in the group.
  int units = 0;
  int firstPassUnits = 0;
  int finalPassUnits = 0;  // units whose last run in the group passed
  std::map<std::string, int> failuresByStep;
  double medianSeconds = 0;
  double p95Seconds = 0;             // nearest rank
  std::vector<StepTimes> stepTimes;  // in the order the steps run
};

// rows in any order.
std::vector<YieldFigures> ComputeYield(const std::vector<YieldRow>& rows, YieldBy by);
std::string YieldTable(const std::vector<YieldFigures>& groups, YieldBy by);
// One JSON object per group, one per line.
std::string YieldJson(const std::vector<YieldFigures>& groups);

// "2026-12-08" (local midnight, or the midnight after it when endOfDay is set) or a whole
// ISO 8601 time with its offset ("2026-12-08T11:05:03+01:00", "...Z"). False for anything
// else.
bool ParseDate(const std::string& text, bool endOfDay, int64_t* epochMs);

// Seconds from the epoch of an ISO 8601 time with offset as the records keep it; false
// when the text is not one.
bool ParseIsoTime(const std::string& text, int64_t* epochSeconds);

}  // namespace morlane
