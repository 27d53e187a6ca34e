#include "records/record_report.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <string_view>
#include <unordered_map>

#include "platform/clock.h"
#include "records/run_query.h"
#include "ui/json_text.h"

namespace morlane {

namespace {

std::string OrDash(const std::string& text) {
  return text.empty() ? "-" : text;
}

// A text cell as RFC 4180 writes it. One that begins as a formula would ("=", "+", "-",
// "@", a tab or a carriage return) is kept as text with a leading "'": a unit id or a
// file name is never run by the spreadsheet that opens the export.
std::string Csv(const std::string& text) {
  const bool formula =
      !text.empty() && std::string_view("=+-@\t\r").find(text[0]) != std::string_view::npos;
  const std::string field = formula ? "'" + text : text;
  if (field.find_first_of(",\"\r\n") == std::string::npos) return field;
  std::string quoted = "\"";
  for (char c : field) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + "\"";
}

std::string Fixed(double value, int decimals) {
  char text[48];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

// Nearest rank of values, which it reorders; 0 for none.
double Percentile(std::vector<double>& values, double fraction) {
  if (values.empty()) return 0;
  size_t rank = static_cast<size_t>(std::ceil(fraction * static_cast<double>(values.size())));
  const auto at =
      values.begin() + static_cast<std::ptrdiff_t>(std::clamp<size_t>(rank, 1, values.size()) - 1);
  std::nth_element(values.begin(), at, values.end());
  return *at;
}

// The median of values, which it reorders; 0 for none.
double Median(std::vector<double>& values) {
  if (values.empty()) return 0;
  const auto middle = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
  std::nth_element(values.begin(), middle, values.end());
  if (values.size() % 2) return *middle;
  // The other middle value is the greatest of those before it.
  return (*std::max_element(values.begin(), middle) + *middle) / 2;
}

std::string KeyOf(const YieldRow& run, YieldBy by) {
  switch (by) {
    case YieldBy::Day:
      return run.day;
    case YieldBy::Hour:
      return run.hour + ":00";
    case YieldBy::Station:
      return run.station;
    case YieldBy::Slot:
      return run.slot;
    case YieldBy::Step:
      return run.failedStep.empty() ? "-" : run.failedStep;
    case YieldBy::All:
      break;
  }
  return "all";
}

// The seconds of the runs that reached each step, collected for one group.
class StepSamples {
 public:
  void Add(const YieldRow& run) {
    for (const auto& [step, seconds] : run.stepSeconds) {
      auto at = std::find_if(steps_.begin(), steps_.end(),
                             [&step](const auto& known) { return known.first == step; });
      if (at == steps_.end()) at = steps_.insert(steps_.end(), {step, {}});
      at->second.push_back(seconds);
    }
  }

  std::vector<StepTimes> Times() {
    // The steps in the order they run; those of no known place as they first came.
    std::stable_sort(steps_.begin(), steps_.end(), [](const auto& a, const auto& b) {
      return StepRank(a.first) < StepRank(b.first);
    });
    std::vector<StepTimes> times;
    for (auto& [step, seconds] : steps_) {
      times.push_back(StepTimes{step, static_cast<int>(seconds.size()), Median(seconds),
                                Percentile(seconds, 0.95)});
    }
    return times;
  }

 private:
  std::vector<std::pair<std::string, std::vector<double>>> steps_;
};

YieldFigures Figures(std::string key, std::vector<const YieldRow*> runs) {
  YieldFigures figures;
  figures.key = std::move(key);
  // Both databases mostly give the runs in the order they started already.
  const auto earlier = [](const YieldRow* a, const YieldRow* b) {
    return a->startedMs < b->startedMs;
  };
  if (!std::is_sorted(runs.begin(), runs.end(), earlier)) {
    std::stable_sort(runs.begin(), runs.end(), earlier);
  }
  // Each unit's last run so far (the runs are in the order they started): a unit not yet
  // in it is at its first run.
  std::unordered_map<std::string_view, const YieldRow*> last;
  last.reserve(runs.size());
  std::vector<double> seconds;
  seconds.reserve(runs.size());
  StepSamples steps;
  for (const YieldRow* run : runs) {
    ++figures.runs;
    const bool passed = run->result == "pass";
    if (passed) ++figures.passed;
    if (run->result == "fail") {
      ++figures.failed;
      ++figures.failuresByStep[OrDash(run->failedStep)];
    }
    if (run->result == "aborted") ++figures.aborted;
    bool first = true;
    if (run->unitId) {
      auto [at, inserted] = last.try_emplace(*run->unitId, run);
      if (!inserted) at->second = run;
      first = inserted;
    } else if (passed) {
      ++figures.finalPassUnits;
    }
    if (first) {
      ++figures.units;
      if (passed) ++figures.firstPassUnits;
    }
    seconds.push_back(static_cast<double>(std::max<int64_t>(0, run->endedMs - run->startedMs)) /
                      1000.0);
    steps.Add(*run);
  }
  for (const auto& [unit, run] : last) {
    if (run->result == "pass") ++figures.finalPassUnits;
  }
  figures.medianSeconds = Median(seconds);
  figures.p95Seconds = Percentile(seconds, 0.95);
  figures.stepTimes = steps.Times();
  return figures;
}

std::string FirstPassYield(const YieldFigures& figures) {
  if (figures.units == 0) return "-";
  return Fixed(100.0 * figures.firstPassUnits / figures.units, 1) + " %";
}

std::string Failures(const YieldFigures& figures) {
  std::string text;
  for (const auto& [step, count] : figures.failuresByStep) {
    if (!text.empty()) text += ", ";
    text += step + " " + std::to_string(count);
  }
  return text.empty() ? "-" : text;
}

int Digits(const std::string& text, size_t at, size_t count) {
  if (at + count > text.size()) return -1;
  int value = 0;
  for (size_t i = at; i < at + count; ++i) {
    if (text[i] < '0' || text[i] > '9') return -1;
    value = value * 10 + (text[i] - '0');
  }
  return value;
}

// Days from 1970-01-01 of a civil date.
int64_t DaysFromCivil(int64_t year, int64_t month, int64_t day) {
  year -= month <= 2 ? 1 : 0;
  const int64_t era = (year >= 0 ? year : year - 399) / 400;
  const int64_t yearOfEra = year - era * 400;
  const int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + dayOfEra - 719468;
}

}  // namespace

std::string RunLine(const RunRecord& run) {
  return run.runId + "\t" + run.started + "\t" + OrDash(run.station) + "\t" + OrDash(run.slot) +
         "\t" + OrDash(run.unitId.value_or("")) + "\t" + run.result + "\t" +
         OrDash(run.failedStep) + "\n";
}

std::string RunsCsv(const std::vector<RunRecord>& runs) {
  std::string csv =
      "run_id,started,ended,station,slot,port,port_id,unit_id,operator,procedure,tool_version,"
      "profile,result,failed_step,file,sha256,bytes,cpu,image_result,step,skipped,closing,"
      "seconds,frames,retries,naks\r\n";
  for (const RunRecord& run : runs) {
    const std::string head = Csv(run.runId) + "," + Csv(run.started) + "," + Csv(run.ended) + "," +
                             Csv(run.station) + "," + Csv(run.slot) + "," + Csv(run.port) + "," +
                             Csv(run.portId) + "," + Csv(run.unitId.value_or("")) + "," +
                             Csv(run.operatorName.value_or("")) + "," + Csv(run.procedure) + "," +
                             Csv(run.toolVersion) + "," + Csv(run.profile.value_or("")) + "," +
                             Csv(run.result) + "," + Csv(run.failedStep);
    if (run.images.empty()) csv += head + ",,,,,,,,,,,,\r\n";
    for (const ImageRecord& image : run.images) {
      csv += head + "," + Csv(image.file) + "," + Csv(image.sha256) + "," +
             (image.bytes < 0 ? "" : std::to_string(image.bytes)) + "," + Csv(image.cpu) + "," +
             Csv(image.result) + "," + Csv(image.step) + "," + (image.skipped ? "true" : "false") +
             "," + Csv(image.closing) + "," + Csv(SecondsText(image.seconds)) + "," +
             std::to_string(image.frames) + "," + std::to_string(image.retries) + "," +
             std::to_string(image.naks) + "\r\n";
    }
  }
  return csv;
}

YieldRow YieldRow::Of(const RunRecord& run) {
  YieldRow row{run.started.substr(0, 10),
               run.started.substr(0, 13),
               run.station,
               run.slot,
               run.unitId,
               run.result,
               run.failedStep,
               run.startedMs,
               run.endedMs,
               {}};
  for (const ImageRecord& image : run.images) {
    for (const auto& [step, seconds] : image.seconds) row.AddSeconds(step, seconds);
  }
  return row;
}

void YieldRow::AddSeconds(std::string_view step, double seconds) {
  auto at = std::find_if(stepSeconds.begin(), stepSeconds.end(),
                         [step](const auto& known) { return known.first == step; });
  if (at == stepSeconds.end()) {
    if (stepSeconds.empty()) stepSeconds.reserve(8);  // a CPU's steps, as they run
    stepSeconds.emplace_back(std::string(step), seconds);
  } else {
    at->second += seconds;
  }
}

std::string SecondsText(const std::vector<std::pair<std::string, double>>& seconds) {
  // A step's name never holds a space or "=".
  std::string text;
  for (const auto& [step, value] : seconds) {
    if (!text.empty()) text += ' ';
    text += step + "=" + Fixed(value, 3);
  }
  return text;
}

std::string StepSecondsText(const std::vector<ImageRecord>& images) {
  std::string text;
  for (const ImageRecord& image : images) {
    if (!text.empty() && !image.seconds.empty()) text += ' ';
    text += SecondsText(image.seconds);
  }
  return text;
}

namespace {

// Each step and its seconds in "select=0.160 connect=2.200 ..."; a number that cannot be
// read counts 0.
template <typename Take>
void EachSecondsItem(std::string_view text, Take take) {
  while (!text.empty()) {
    const size_t end = std::min(text.find(' '), text.size());
    const std::string_view item = text.substr(0, end);
    const size_t equals = item.find('=');
    if (equals != std::string_view::npos) {
      double seconds = 0;
      if (std::from_chars(item.data() + equals + 1, item.data() + item.size(), seconds).ec !=
          std::errc{}) {
        seconds = 0;
      }
      take(item.substr(0, equals), seconds);
    }
    text.remove_prefix(std::min(end + 1, text.size()));
  }
}

}  // namespace

std::vector<std::pair<std::string, double>> SecondsFromText(std::string_view text) {
  std::vector<std::pair<std::string, double>> seconds;
  EachSecondsItem(text, [&seconds](std::string_view step, double value) {
    seconds.emplace_back(std::string(step), value);
  });
  return seconds;
}

void AddStepSeconds(std::string_view text, YieldRow& row) {
  EachSecondsItem(text,
                  [&row](std::string_view step, double value) { row.AddSeconds(step, value); });
}

std::vector<YieldFigures> ComputeYield(const std::vector<YieldRow>& rows, YieldBy by) {
  std::map<std::string, std::vector<const YieldRow*>> groups;
  for (const YieldRow& row : rows) groups[KeyOf(row, by)].push_back(&row);
  if (groups.empty()) groups["all"];
  std::vector<YieldFigures> figures;
  for (auto& [key, members] : groups) figures.push_back(Figures(key, std::move(members)));
  return figures;
}

std::string YieldTable(const std::vector<YieldFigures>& groups, YieldBy by) {
  const char* heading = by == YieldBy::Day       ? "day"
                        : by == YieldBy::Hour    ? "hour"
                        : by == YieldBy::Station ? "station"
                        : by == YieldBy::Slot    ? "slot"
                        : by == YieldBy::Step    ? "failed_step"
                                                 : "";
  size_t width = std::max<size_t>(5, std::string(heading).size());
  for (const YieldFigures& group : groups) width = std::max(width, group.key.size());
  char line[512];
  std::snprintf(line, sizeof line, "%-*s %6s %6s %6s %7s %10s %8s %8s  %s\n",
                static_cast<int>(width), heading, "runs", "passed", "failed", "aborted",
                "first-pass", "median_s", "p95_s", "failures by step");
  std::string table = line;
  for (const YieldFigures& group : groups) {
    std::snprintf(line, sizeof line, "%-*s %6d %6d %6d %7d %10s %8.1f %8.1f  ",
                  static_cast<int>(width), group.key.c_str(), group.runs, group.passed,
                  group.failed, group.aborted, FirstPassYield(group).c_str(), group.medianSeconds,
                  group.p95Seconds);
    table += line + Failures(group) + "\n";
  }
  return table;
}

std::string YieldJson(const std::vector<YieldFigures>& groups) {
  std::string out;
  for (const YieldFigures& group : groups) {
    out += "{\"key\": " + JsonString(group.key) + ", \"runs\": " + std::to_string(group.runs) +
           ", \"passed\": " + std::to_string(group.passed) +
           ", \"failed\": " + std::to_string(group.failed) +
           ", \"aborted\": " + std::to_string(group.aborted) +
           ", \"units\": " + std::to_string(group.units) +
           ", \"first_pass_units\": " + std::to_string(group.firstPassUnits) +
           ", \"first_pass_yield\": " +
           (group.units ? Fixed(static_cast<double>(group.firstPassUnits) / group.units, 4)
                        : std::string("null")) +
           ", \"final_pass_units\": " + std::to_string(group.finalPassUnits) +
           ", \"final_yield\": " +
           (group.units ? Fixed(static_cast<double>(group.finalPassUnits) / group.units, 4)
                        : std::string("null")) +
           // Runs beyond each unit's first, over all runs: how much of the line's time
           // went to units tried again.
           ", \"retest_rate\": " +
           (group.runs ? Fixed(static_cast<double>(group.runs - group.units) / group.runs, 4)
                       : std::string("null")) +
           ", \"failures_by_step\": {";
    bool first = true;
    for (const auto& [step, count] : group.failuresByStep) {
      out += (first ? "" : ", ") + JsonString(step) + ": " + std::to_string(count);
      first = false;
    }
    out += "}, \"median_seconds\": " + Fixed(group.medianSeconds, 3) +
           ", \"p95_seconds\": " + Fixed(group.p95Seconds, 3) + ", \"step_seconds\": {";
    first = true;
    for (const StepTimes& step : group.stepTimes) {
      out += (first ? "" : ", ") + JsonString(step.step) +
             ": {\"runs\": " + std::to_string(step.runs) +
             ", \"median\": " + Fixed(step.medianSeconds, 3) +
             ", \"p95\": " + Fixed(step.p95Seconds, 3) + "}";
      first = false;
    }
    out += "}}\n";
  }
  return out;
}

bool ParseIsoTime(const std::string& text, int64_t* epochSeconds) {
  // YYYY-MM-DDTHH:MM:SS then Z or +HH:MM / -HH:MM
  if (text.size() < 20 || text[4] != '-' || text[7] != '-' ||
      (text[10] != 'T' && text[10] != ' ') || text[13] != ':' || text[16] != ':') {
    return false;
  }
  const int year = Digits(text, 0, 4), month = Digits(text, 5, 2), day = Digits(text, 8, 2);
  const int hour = Digits(text, 11, 2), minute = Digits(text, 14, 2), second = Digits(text, 17, 2);
  if (year < 0 || month < 1 || month > 12 || day < 1 || day > 31 || hour < 0 || hour > 23 ||
      minute < 0 || minute > 59 || second < 0 || second > 60) {
    return false;
  }
  int64_t offset = 0;
  const std::string zone = text.substr(19);
  if (zone == "Z") {
    offset = 0;
  } else if (zone.size() == 6 && (zone[0] == '+' || zone[0] == '-') && zone[3] == ':') {
    const int hours = Digits(zone, 1, 2), minutes = Digits(zone, 4, 2);
    if (hours < 0 || hours > 23 || minutes < 0 || minutes > 59) return false;
    offset = (zone[0] == '-' ? -1 : 1) * (hours * 3600 + minutes * 60);
  } else {
    return false;
  }
  *epochSeconds =
      DaysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60 + second - offset;
  return true;
}

bool ParseDate(const std::string& text, bool endOfDay, int64_t* epochMs) {
  if (text.size() == 10 && text[4] == '-' && text[7] == '-') {
    const int year = Digits(text, 0, 4), month = Digits(text, 5, 2), day = Digits(text, 8, 2);
    const int64_t start = LocalDayStart(year, month, day);
    if (start < 0) return false;
    // The next day's start, not 24 hours on: a day of a clock change is 23 or 25 hours.
    int64_t end = start;
    if (endOfDay) {
      end = LocalDayStart(year, month, day + 1);
      if (end < 0) end = start + 86400;  // the last day of a month: mktime normalises it
    }
    *epochMs = (endOfDay ? end : start) * 1000;
    return true;
  }
  int64_t seconds = 0;
  if (!ParseIsoTime(text, &seconds)) return false;
  *epochMs = seconds * 1000;
  return true;
}

}  // namespace morlane
