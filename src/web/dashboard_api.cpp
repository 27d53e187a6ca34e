#include "web/dashboard_api.h"

#include <map>

#include "records/filter_words.h"
#include "records/record_report.h"
#include "ui/json_text.h"

namespace morlane::web {

namespace {

// The parameters a path takes, each once; anything else is a mistake worth a 400, so that a
// misspelt filter is never silently ignored.
bool Words(const QueryParams& params, const std::vector<std::string>& known,
           std::map<std::string, std::string>* words, std::string* why) {
  for (const auto& [name, value] : params) {
    bool isKnown = false;
    for (const std::string& word : known) isKnown = isKnown || word == name;
    if (!isKnown) {
      std::string list;
      for (const std::string& word : known) list += (list.empty() ? "" : ", ") + word;
      *why = "unknown parameter \"" + name + "\" (this path takes " + list + ")";
      return false;
    }
    if (!words->emplace(name, value).second) {
      *why = "parameter \"" + name + "\" given twice";
      return false;
    }
  }
  return true;
}

std::string Word(const std::map<std::string, std::string>& words, const std::string& name) {
  auto found = words.find(name);
  return found == words.end() ? std::string() : found->second;
}

ApiAnswer BadQuery(const std::string& why) {
  return ApiAnswer{400, ErrorJson(why)};
}

ApiAnswer BadQuery(const FilterMistake& mistake) {
  return BadQuery(mistake.word + ": " + mistake.reason);
}

// Lines of one JSON value each (what `records` prints) as one array.
std::string ArrayOfLines(const std::string& lines) {
  std::string out = "[";
  size_t at = 0;
  while (at < lines.size()) {
    size_t end = lines.find('\n', at);
    if (end == std::string::npos) end = lines.size();
    if (end > at) out += (out.size() > 1 ? ",\n" : "") + lines.substr(at, end - at);
    at = end + 1;
  }
  return out + "]";
}

// The log's lines as JSON strings; a last line feed ends the last line, and makes none.
std::string LogLines(const std::string& log) {
  std::string out = "[";
  size_t at = 0;
  while (at < log.size()) {
    size_t end = log.find('\n', at);
    if (end == std::string::npos) end = log.size();
    out += (out.size() > 1 ? ", " : "") + JsonString(std::string_view(log).substr(at, end - at));
    at = end + 1;
  }
  return out + "]";
}

}  // namespace

std::string ErrorJson(const std::string& text) {
  return "{\"error\": " + JsonString(text) + "}";
}

DashboardApi::DashboardApi(RecordSource& source, SlotSource* slots)
    : source_(source), slots_(slots) {}

ApiAnswer DashboardApi::Unreadable(const std::string& why) {
  {
    std::lock_guard lock(errorMutex_);
    if (why != lastError_ && onError) onError(why);
    lastError_ = why;
  }
  return ApiAnswer{503, ErrorJson("the records cannot be read now; the dashboard's operator "
                                  "sees why")};
}

ApiAnswer DashboardApi::Yield(const QueryParams& params) {
  std::map<std::string, std::string> words;
  std::string why;
  if (!Words(params, {"since", "until", "station", "by"}, &words, &why)) return BadQuery(why);
  RunFilter filter;
  FilterMistake mistake;
  if (!ParseFilterWords(
          {{}, {}, Word(words, "station"), {}, Word(words, "since"), Word(words, "until"), {}},
          &filter, &mistake)) {
    return BadQuery(mistake);
  }
  YieldBy by = YieldBy::All;
  if (!ParseYieldBy(Word(words, "by"), &by, &mistake)) return BadQuery(mistake);

  const std::string filterText =
      Word(words, "station") + '\n' + Word(words, "since") + '\n' + Word(words, "until");
  const std::string query = filterText + '\n' + Word(words, "by");
  std::lock_guard lock(figuresMutex_);
  const uint64_t generation = generation_.load();
  const auto now = std::chrono::steady_clock::now();
  auto kept = figures_.find(query);
  if (kept != figures_.end() && kept->second.generation == generation &&
      now - kept->second.made < kFiguresKept) {
    return kept->second.answer;
  }
  if (rows_.filter != filterText || rows_.generation != generation ||
      now - rows_.read >= kRowsKept) {
    rows_ = Rows{};
    std::vector<YieldRow> rows = source_.YieldRows(filter, &why);
    if (!why.empty()) return Unreadable(why);
    rows_ = Rows{filterText, now, generation, std::move(rows)};
  }
  ApiAnswer answer{200, ArrayOfLines(YieldJson(ComputeYield(rows_.rows, by)))};
  // Queries are few (a page's filters): a store that somehow grew past a page's worth is
  // begun again.
  if (figures_.size() >= 256) figures_.clear();
  figures_[query] = Figures{now, generation, answer};
  return answer;
}

ApiAnswer DashboardApi::Runs(const QueryParams& params) {
  std::map<std::string, std::string> words;
  std::string why;
  if (!Words(params, {"unit", "result", "station", "since", "until", "limit"}, &words, &why)) {
    return BadQuery(why);
  }
  RunFilter filter;
  FilterMistake mistake;
  if (!ParseFilterWords({Word(words, "unit"),
                         Word(words, "result"),
                         Word(words, "station"),
                         {},
                         Word(words, "since"),
                         Word(words, "until"),
                         Word(words, "limit")},
                        &filter, &mistake)) {
    return BadQuery(mistake);
  }
  if (filter.limit < 0) filter.limit = kDefaultLimit;
  std::vector<RunRecord> runs = source_.List(filter, &why);
  if (!why.empty()) return Unreadable(why);
  std::string lines;
  for (const RunRecord& run : runs) lines += RunRecordJson(run);
  return ApiAnswer{200, ArrayOfLines(lines)};
}

ApiAnswer DashboardApi::Run(const std::string& runId) {
  RunFilter filter;
  filter.runId = runId;
  filter.limit = 1;
  std::string why;
  std::vector<RunRecord> runs =
      runId.empty() ? std::vector<RunRecord>{} : source_.List(filter, &why);
  if (!why.empty()) return Unreadable(why);
  if (runs.empty()) return ApiAnswer{404, ErrorJson("no run " + runId)};
  std::string record = RunRecordJson(runs.front());
  while (!record.empty() && record.back() == '\n') record.pop_back();
  // The id read back, never the one asked for, names the log.
  std::optional<std::string> log = source_.LogOf(runs.front().runId);
  return ApiAnswer{
      200, "{\"record\": " + record + ", \"log\": " + (log ? LogLines(*log) : "null") + "}"};
}

ApiAnswer DashboardApi::Slots() {
  return ApiAnswer{200, LiveSlotsJson(slots_ ? slots_->Stations() : std::vector<LiveStation>{})};
}

ApiAnswer DashboardApi::Stations() {
  return ApiAnswer{200, LiveStationsJson(slots_ ? slots_->Stations() : std::vector<LiveStation>{})};
}

}  // namespace morlane::web
