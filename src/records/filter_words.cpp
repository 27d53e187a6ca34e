#include "records/filter_words.h"

#include <algorithm>
#include <cctype>
#include <cstdint>

namespace morlane {

namespace {

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

// The one of names the word is, in any case; "" when it is none of them.
std::string OneOf(const std::string& word, const std::vector<std::string>& names) {
  const std::string lower = Lower(word);
  return std::find(names.begin(), names.end(), lower) != names.end() ? lower : std::string();
}

std::string Listed(const std::vector<std::string>& names) {
  std::string text;
  for (const std::string& name : names) text += (text.empty() ? "" : ", ") + name;
  return text;
}

bool Mistaken(FilterMistake* mistake, const char* word, std::string reason) {
  *mistake = FilterMistake{word, std::move(reason)};
  return false;
}

// Digits only: a sign, a space or a fraction is a mistake, as is a number past kLimitMax.
bool ParseLimit(const std::string& text, int* limit) {
  if (text.empty() || text.size() > 10) return false;
  int64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  if (value > kLimitMax) return false;
  *limit = static_cast<int>(value);
  return true;
}

}  // namespace

const std::vector<std::string>& ResultNames() {
  static const std::vector<std::string> names{"pass", "fail", "aborted"};
  return names;
}

const std::vector<std::string>& YieldGroupingNames() {
  static const std::vector<std::string> names{"day", "hour", "station", "slot", "step"};
  return names;
}

bool ParseFilterWords(const FilterWords& words, RunFilter* filter, FilterMistake* mistake) {
  RunFilter parsed;
  parsed.unitId = words.unit;
  parsed.station = words.station;
  parsed.release = words.release;
  if (!words.result.empty()) {
    parsed.result = OneOf(words.result, ResultNames());
    if (parsed.result.empty()) {
      return Mistaken(mistake, "result",
                      "\"" + words.result + "\" is no result (" + Listed(ResultNames()) + ")");
    }
  }
  if (!words.since.empty() && !ParseDate(words.since, false, &parsed.sinceMs)) {
    return Mistaken(mistake, "since",
                    "\"" + words.since +
                        "\" is not a date (YYYY-MM-DD) or a time with its offset "
                        "(YYYY-MM-DDTHH:MM:SS+HH:MM)");
  }
  if (!words.until.empty() && !ParseDate(words.until, true, &parsed.untilMs)) {
    return Mistaken(mistake, "until",
                    "\"" + words.until +
                        "\" is not a date (YYYY-MM-DD) or a time with its offset "
                        "(YYYY-MM-DDTHH:MM:SS+HH:MM)");
  }
  if (!words.limit.empty() && !ParseLimit(words.limit, &parsed.limit)) {
    return Mistaken(
        mistake, "limit",
        "\"" + words.limit + "\" is not a number of runs (0 to " + std::to_string(kLimitMax) + ")");
  }
  *filter = parsed;
  return true;
}

bool ParseYieldBy(const std::string& word, YieldBy* by, FilterMistake* mistake) {
  if (word.empty()) {
    *by = YieldBy::All;
    return true;
  }
  const std::string name = OneOf(word, YieldGroupingNames());
  if (name.empty()) {
    return Mistaken(mistake, "by",
                    "\"" + word + "\" is no grouping (" + Listed(YieldGroupingNames()) + ")");
  }
  *by = name == "day"       ? YieldBy::Day
        : name == "hour"    ? YieldBy::Hour
        : name == "station" ? YieldBy::Station
        : name == "slot"    ? YieldBy::Slot
                            : YieldBy::Step;
  return true;
}

}  // namespace morlane
