#include "records/run_query.h"

#include <algorithm>
#include <iterator>
#include <string_view>

namespace morlane {

FilterSql FilterClause(const RunFilter& filter, char marker, bool ordered) {
  FilterSql sql;
  auto add = [&](const char* condition, std::variant<int64_t, std::string> value) {
    sql.values.push_back(std::move(value));
    sql.clause += std::string(sql.values.size() == 1 ? " WHERE " : " AND ") + condition + " " +
                  marker + std::to_string(sql.values.size());
  };
  add("started_ms >=", filter.sinceMs);
  add("started_ms <", filter.untilMs);
  if (!filter.runId.empty()) add("run_id =", filter.runId);
  if (!filter.unitId.empty()) add("unit_id =", filter.unitId);
  if (!filter.result.empty()) add("result =", filter.result);
  if (!filter.station.empty()) add("station =", filter.station);
  if (!filter.release.empty()) {
    add(marker == '$' ? "record->'package'->>'release' =" : "package_release =", filter.release);
  }
  if (ordered) sql.clause += " ORDER BY started_ms DESC, run_id DESC";
  if (filter.limit >= 0) {
    sql.values.emplace_back(int64_t{filter.limit});
    sql.clause += std::string(" LIMIT ") + marker + std::to_string(sql.values.size());
  }
  return sql;
}

int StepRank(std::string_view step) {
  // The steps of one CPU's programming as they run; "check" is the look at the CPU's
  // content before an erase that may be spared.
  static constexpr std::string_view kOrder[] = {"select", "connect", "check", "erase",
                                                "burn",   "verify",  "close"};
  return static_cast<int>(
      std::distance(std::begin(kOrder), std::find(std::begin(kOrder), std::end(kOrder), step)));
}

void InStepOrder(std::vector<std::pair<std::string, double>>& seconds) {
  std::stable_sort(seconds.begin(), seconds.end(), [](const auto& a, const auto& b) {
    return StepRank(a.first) < StepRank(b.first);
  });
}

}  // namespace morlane
