#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "records/record_source.h"
#include "web/live_slots.h"

namespace morlane::web {

// A query's parameters as they came, decoded, in their order.
using QueryParams = std::vector<std::pair<std::string, std::string>>;

// An answer to one request of the API.
struct ApiAnswer {
  int status = 200;
  std::string body;  // JSON
};

// The API's answers over the records' own queries: the figures, runs and records are those
// `records yield --json`, `list --json` and `show` print, made by the same code. A query
// the API cannot read is answered 400 with a reason; records that cannot be read, 503,
// with the reason said to the dashboard's operator alone (it may name the database's
// host, which is no business of a page).
class DashboardApi {
 public:
  // A run list's length when the query names none: a page asks for the newest, and a line
  // of 10^5 runs is never sent whole by mistake. `limit` asks for more.
  static constexpr int kDefaultLimit = 100;

  // slots may be null: no station hands its slots.
  DashboardApi(RecordSource& source, SlotSource* slots);

  // /api/yield?since&until&station&by: an array of the groups' objects, one per line of
  // `records yield --json`.
  ApiAnswer Yield(const QueryParams& params);
  // /api/runs?unit&result&station&since&until&limit: an array of the records `records list
  // --json` prints, newest first.
  ApiAnswer Runs(const QueryParams& params);
  // /api/runs/RUN_ID: {"record": ..., "log": [lines]}; "log" is null when the run's log
  // cannot be read, 404 when there is no such run.
  ApiAnswer Run(const std::string& runId);
  // /api/slots: an array of the live slots, [] without a station.
  ApiAnswer Slots();
  // /api/stations: each station that reports its slots, with its backlog and whether it
  // reported lately.
  ApiAnswer Stations();

  // Told that runs were kept since: the figures made for earlier queries are made again
  // at their next asking. Any thread.
  void RunsChanged() { generation_.fetch_add(1); }

  // Why the records could not be read, for the operator; "" once they can be again.
  std::function<void(const std::string&)> onError;

  // How long the figures of a query are answered again without being made afresh, while no
  // run is told to have come: a bound for runs that reach the records untold.
  static constexpr std::chrono::seconds kFiguresKept{30};

 private:
  ApiAnswer Unreadable(const std::string& why);

  // The figures as last made for each query: the pages of a line ask the same ones over and
  // over, and a history of 10^5 runs takes the better part of a second to go through.
  // Made one query at a time (the source is read one query at a time anyway), so that
  // pages asking at once wait for one making rather than each making its own.
  struct Figures {
    std::chrono::steady_clock::time_point made;
    uint64_t generation = 0;
    ApiAnswer answer;
  };
  std::mutex figuresMutex_;
  std::map<std::string, Figures> figures_;
  std::atomic<uint64_t> generation_{0};
  // The runs of the filter read last (under figuresMutex_): a page asks for one filter's
  // figures grouped several ways at once, and reading the runs is most of making them.
  // Kept briefly, one filter's only: a history of 10^5 runs is some 30 MB of them.
  static constexpr std::chrono::seconds kRowsKept{10};
  struct Rows {
    std::string filter;
    std::chrono::steady_clock::time_point read;
    uint64_t generation = 0;
    std::vector<YieldRow> rows;
  };
  Rows rows_;

  RecordSource& source_;
  SlotSource* slots_;
  std::mutex errorMutex_;
  std::string lastError_;
};

// {"error": TEXT}
std::string ErrorJson(const std::string& text);

}  // namespace morlane::web
