#pragma once

#include <string>
#include <vector>

#include "records/record_report.h"
#include "records/record_source.h"

namespace morlane {

// A filter of runs as a person gives it, word for word: the options of `records list`,
// `export` and `yield`, or the parameters of a dashboard's query. Both are read by the one
// parser below, so that a date, a result or a limit means the same wherever it is given.
// An empty word takes every run.
struct FilterWords {
  std::string unit;
  std::string result;  // "pass", "fail" or "aborted", in any case
  std::string station;
  std::string release;
  std::string since;  // a date (from its local midnight) or a time with its offset
  std::string until;  // a date (to the midnight after it) or a time with its offset
  std::string limit;  // a whole number of runs, the newest, 0 to kLimitMax
};

// What a word could not be read as: the word's name as the caller knows it ("since") and
// why, in words that show the value given.
struct FilterMistake {
  std::string word;
  std::string reason;
};

// The results a run can have, as a filter names them.
const std::vector<std::string>& ResultNames();
// The groupings of the yield figures, as `--by` and `by` name them.
const std::vector<std::string>& YieldGroupingNames();

// The most runs a limit may ask for: beyond it a number is taken for a mistake.
inline constexpr int kLimitMax = 1000000000;

// The filter the words say; false, with the first word that cannot be read, otherwise.
bool ParseFilterWords(const FilterWords& words, RunFilter* filter, FilterMistake* mistake);

// "" (every run as one group), "day", "hour", "station", "slot" or "step", in any case.
bool ParseYieldBy(const std::string& word, YieldBy* by, FilterMistake* mistake);

}  // namespace morlane
