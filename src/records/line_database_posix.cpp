// The line's database through libpq.
#include <libpq-fe.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <limits>
#include <optional>
#include <type_traits>
#include <vector>

#include "records/line_database.h"
#include "ui/json_text.h"

namespace morlane {

namespace {

// Every wait on the server is bounded: the connection, each statement, and a peer that
// vanished without closing the connection.
constexpr const char* kConnectTimeoutSeconds = "5";
constexpr const char* kUserTimeoutMs = "10000";
constexpr const char* kStatementTimeout = "SET statement_timeout = '15s'";

// Made on first use. The lock keeps two stations that start on a new database at once from
// making it twice; IF NOT EXISTS lets every later start pass through.
constexpr const char* kSchema =
    "SELECT pg_advisory_xact_lock(4242017);"
    "CREATE SCHEMA IF NOT EXISTS morlane;"
    "CREATE TABLE IF NOT EXISTS morlane.runs ("
    "  run_id TEXT PRIMARY KEY, station TEXT NOT NULL, slot TEXT NOT NULL, port TEXT NOT NULL,"
    "  port_id TEXT NOT NULL, unit_id TEXT, operator TEXT, procedure TEXT NOT NULL,"
    "  tool_version TEXT NOT NULL, profile TEXT, started TEXT NOT NULL, ended TEXT NOT NULL,"
    "  started_at TIMESTAMPTZ NOT NULL, ended_at TIMESTAMPTZ NOT NULL,"
    "  started_ms BIGINT NOT NULL, ended_ms BIGINT NOT NULL, result TEXT NOT NULL,"
    "  failed_step TEXT, record JSONB NOT NULL, log TEXT NOT NULL,"
    "  received_at TIMESTAMPTZ NOT NULL DEFAULT now());"
    "CREATE TABLE IF NOT EXISTS morlane.images ("
    "  run_id TEXT NOT NULL REFERENCES morlane.runs(run_id), position INTEGER NOT NULL,"
    "  file TEXT NOT NULL, sha256 TEXT, bytes BIGINT, cpu TEXT, result TEXT NOT NULL, step TEXT,"
    "  skipped BOOLEAN NOT NULL, closing TEXT, seconds JSONB NOT NULL, frames INTEGER NOT NULL,"
    "  retries INTEGER NOT NULL, naks INTEGER NOT NULL, PRIMARY KEY (run_id, position));"
    "CREATE INDEX IF NOT EXISTS runs_by_start ON morlane.runs(started_ms);"
    "CREATE INDEX IF NOT EXISTS runs_by_unit ON morlane.runs(unit_id, started_ms);";

// A result that clears itself.
class Result {
 public:
  explicit Result(PGresult* result) : result_(result) {}
  ~Result() { PQclear(result_); }
  Result(const Result&) = delete;
  Result& operator=(const Result&) = delete;
  PGresult* get() const { return result_; }
  bool Ok() const {
    const ExecStatusType status = PQresultStatus(result_);
    return status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK;
  }

 private:
  PGresult* result_;
};

// Parameters as the server takes them: UTF-8 text, or NULL.
class Parameters {
 public:
  void Text(const std::string& value) { values_.push_back(Utf8Text(value)); }
  void TextOrNull(const std::string& value) {
    if (value.empty()) {
      values_.push_back(std::nullopt);
    } else {
      Text(value);
    }
  }
  void Optional(const std::optional<std::string>& value) {
    if (value) {
      Text(*value);
    } else {
      values_.push_back(std::nullopt);
    }
  }
  void Number(int64_t value) { values_.push_back(std::to_string(value)); }
  void Null() { values_.push_back(std::nullopt); }
  size_t Count() const { return values_.size(); }

  Result Exec(PGconn* connection, const char* sql) {
    std::vector<const char*> pointers;
    for (const auto& value : values_) pointers.push_back(value ? value->c_str() : nullptr);
    return Result(PQexecParams(connection, sql, static_cast<int>(pointers.size()), nullptr,
                               pointers.data(), nullptr, nullptr, 0));
  }

 private:
  std::vector<std::optional<std::string>> values_;
};

// The step order of a CPU's programming: the server keeps an object's keys in an order of
// its own, the record keeps them as they ran.
constexpr const char* kStepOrder[] = {"select", "connect", "erase", "burn", "verify", "close"};

// {"burn": 0.403, "close": 0.201, ...} as the server prints a flat object of numbers.
std::vector<std::pair<std::string, double>> StepSeconds(const std::string& json) {
  std::vector<std::pair<std::string, double>> seconds;
  for (size_t at = json.find('"'); at != std::string::npos; at = json.find('"', at)) {
    const size_t end = json.find('"', at + 1);
    const size_t colon = end == std::string::npos ? end : json.find(':', end);
    if (colon == std::string::npos) break;
    seconds.emplace_back(json.substr(at + 1, end - at - 1),
                         std::strtod(json.c_str() + colon + 1, nullptr));
    at = colon + 1;
  }
  auto rank = [](const std::string& step) {
    for (size_t i = 0; i < std::size(kStepOrder); ++i) {
      if (step == kStepOrder[i]) return i;
    }
    return std::size(kStepOrder);
  };
  std::stable_sort(seconds.begin(), seconds.end(),
                   [&rank](const auto& a, const auto& b) { return rank(a.first) < rank(b.first); });
  return seconds;
}

std::string SecondsJson(const ImageRecord& image) {
  std::string json = "{";
  for (const auto& [step, seconds] : image.seconds) {
    char number[32];
    std::snprintf(number, sizeof number, "%.3f", seconds);
    if (json.size() > 1) json += ", ";
    json += JsonString(step) + ": " + number;
  }
  return json + "}";
}

// The client's message on one line: it spreads a hint over several.
std::string Trimmed(const char* message) {
  std::string text;
  for (const char* c = message ? message : ""; *c; ++c) {
    if (*c == '\n' || *c == '\t') {
      if (!text.empty() && text.back() != ' ') text += ' ';
    } else {
      text += *c;
    }
  }
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

}  // namespace

LineDatabase::LineDatabase(std::string url) : url_(std::move(url)) {}

LineDatabase::~LineDatabase() {
  Disconnect();
}

bool LineDatabase::Supported() {
  return true;
}

std::string LineDatabase::WhyUnsupported() {
  return {};
}

void LineDatabase::Disconnect() {
  if (connection_) PQfinish(connection_);
  connection_ = nullptr;
}

bool LineDatabase::Connect(std::string* error) {
  if (connection_ && PQstatus(connection_) == CONNECTION_OK) return true;
  Disconnect();
  // The address's own settings come after the bounds, so that it may set others.
  const char* keys[] = {"connect_timeout", "tcp_user_timeout", "dbname", nullptr};
  const char* values[] = {kConnectTimeoutSeconds, kUserTimeoutMs, url_.c_str(), nullptr};
  connection_ = PQconnectdbParams(keys, values, 1);
  if (!connection_ || PQstatus(connection_) != CONNECTION_OK) {
    *error = connection_ ? Trimmed(PQerrorMessage(connection_)) : "out of memory";
    Disconnect();
    return false;
  }
  Result timeout(PQexec(connection_, kStatementTimeout));
  Result encoding(PQexec(connection_, "SET client_encoding = 'UTF8'"));
  if (!timeout.Ok() || !encoding.Ok()) {
    *error = Trimmed(PQerrorMessage(connection_));
    Disconnect();
    return false;
  }
  return true;
}

bool LineDatabase::MakeSchema(std::string* error) {
  if (schemaMade_) return true;
  Result begin(PQexec(connection_, "BEGIN"));
  Result made(PQexec(connection_, kSchema));
  if (!begin.Ok() || !made.Ok()) {
    *error = "cannot make the line database's tables: " + Trimmed(PQerrorMessage(connection_));
    Result rollback(PQexec(connection_, "ROLLBACK"));
    return false;
  }
  Result commit(PQexec(connection_, "COMMIT"));
  if (!commit.Ok()) {
    *error = Trimmed(PQerrorMessage(connection_));
    return false;
  }
  schemaMade_ = true;
  return true;
}

bool LineDatabase::Send(const RunRecord& run, const std::string& log, std::string* error) {
  Result begin(PQexec(connection_, "BEGIN"));
  bool ok = begin.Ok();
  bool stored = false;
  if (ok) {
    Parameters values;
    values.Text(run.runId);
    values.Text(run.station);
    values.Text(run.slot);
    values.Text(run.port);
    values.Text(run.portId);
    values.Optional(run.unitId);
    values.Optional(run.operatorName);
    values.Text(run.procedure);
    values.Text(run.toolVersion);
    values.Optional(run.profile);
    values.Text(run.started);
    values.Text(run.ended);
    values.Number(run.startedMs);
    values.Number(run.endedMs);
    values.Text(run.result);
    values.TextOrNull(run.failedStep);
    values.Text(RunRecordJson(run));
    values.Text(log);
    Result insert = values.Exec(
        connection_,
        "INSERT INTO morlane.runs (run_id, station, slot, port, port_id, unit_id, operator,"
        " procedure, tool_version, profile, started, ended, started_at, ended_at, started_ms,"
        " ended_ms, result, failed_step, record, log) VALUES ($1, $2, $3, $4, $5, $6, $7, $8,"
        " $9, $10, $11, $12, to_timestamp($13::bigint / 1000.0),"
        " to_timestamp($14::bigint / 1000.0), $13, $14, $15, $16, $17::jsonb, $18)"
        " ON CONFLICT (run_id) DO NOTHING");
    ok = insert.Ok();
    // Sent before, its acknowledgement lost: the run is there already, with its images.
    stored = ok && std::string(PQcmdTuples(insert.get())) == "1";
  }
  for (size_t i = 0; ok && stored && i < run.images.size(); ++i) {
    const ImageRecord& image = run.images[i];
    Parameters values;
    values.Text(run.runId);
    values.Number(static_cast<int64_t>(i));
    values.Text(image.file);
    values.TextOrNull(image.sha256);
    if (image.bytes >= 0) {
      values.Number(image.bytes);
    } else {
      values.Null();
    }
    values.TextOrNull(image.cpu);
    values.Text(image.result);
    values.TextOrNull(image.step);
    values.Text(image.skipped ? "true" : "false");
    values.TextOrNull(image.closing);
    values.Text(SecondsJson(image));
    values.Number(image.frames);
    values.Number(image.retries);
    values.Number(image.naks);
    Result insert = values.Exec(
        connection_,
        "INSERT INTO morlane.images (run_id, position, file, sha256, bytes, cpu, result, step,"
        " skipped, closing, seconds, frames, retries, naks) VALUES ($1, $2, $3, $4, $5, $6, $7,"
        " $8, $9, $10, $11::jsonb, $12, $13, $14)");
    ok = insert.Ok();
  }
  if (ok) {
    Result commit(PQexec(connection_, "COMMIT"));
    ok = commit.Ok();
  }
  if (!ok) {
    *error = "run " + run.runId + ": " + Trimmed(PQerrorMessage(connection_));
    Result rollback(PQexec(connection_, "ROLLBACK"));
  }
  return ok;
}

bool LineDatabase::Ready(std::string* error) {
  return Connect(error) && MakeSchema(error);
}

bool LineDatabase::SendBacklog(RecordStore& store, int* sent, std::string* error) {
  std::lock_guard lock(mutex_);
  *sent = 0;
  error->clear();
  std::vector<std::string> ids = store.UnsentRunIds(error);
  if (!error->empty()) return false;
  if (ids.empty()) return true;
  if (!Ready(error)) return false;
  for (const std::string& id : ids) {
    std::optional<RunRecord> run = store.Load(id, error);
    if (!run) return false;
    const std::string log = store.LogOf(id).value_or("");
    if (!Send(*run, log, error)) {
      // A connection that broke is made anew at the next call.
      if (PQstatus(connection_) != CONNECTION_OK) Disconnect();
      return false;
    }
    if (!store.MarkSent(id, error)) return false;
    ++*sent;
  }
  return true;
}

std::vector<RunRecord> LineDatabase::Runs(const RunFilter& filter, bool withImages,
                                          std::string* error) {
  std::lock_guard lock(mutex_);
  error->clear();
  std::vector<RunRecord> runs;
  if (!Ready(error)) return runs;
  Parameters values;
  std::string where = " WHERE true";
  auto add = [&](const char* clause, auto value) {
    if constexpr (std::is_same_v<decltype(value), int64_t>) {
      values.Number(value);
    } else {
      values.Text(value);
    }
    where += std::string(" AND ") + clause + " $" + std::to_string(values.Count());
  };
  if (!filter.runId.empty()) add("run_id =", filter.runId);
  if (filter.sinceMs != std::numeric_limits<int64_t>::min()) add("started_ms >=", filter.sinceMs);
  if (filter.untilMs != std::numeric_limits<int64_t>::max()) add("started_ms <", filter.untilMs);
  if (!filter.unitId.empty()) add("unit_id =", filter.unitId);
  if (!filter.result.empty()) add("result =", filter.result);
  if (!filter.station.empty()) add("station =", filter.station);
  std::string sql =
      "SELECT run_id, station, slot, port, port_id, unit_id, operator, procedure, tool_version,"
      " profile, started, ended, started_ms, ended_ms, result, failed_step FROM morlane.runs" +
      where + " ORDER BY started_ms DESC, run_id DESC";
  if (filter.limit >= 0) sql += " LIMIT " + std::to_string(filter.limit);
  Result select = values.Exec(connection_, sql.c_str());
  if (!select.Ok()) {
    *error = Trimmed(PQerrorMessage(connection_));
    return runs;
  }
  auto text = [&select](int row, int column) {
    return std::string(PQgetvalue(select.get(), row, column));
  };
  auto optional = [&](int row, int column) -> std::optional<std::string> {
    if (PQgetisnull(select.get(), row, column)) return std::nullopt;
    return text(row, column);
  };
  for (int row = 0; row < PQntuples(select.get()); ++row) {
    RunRecord run;
    run.runId = text(row, 0);
    run.station = text(row, 1);
    run.slot = text(row, 2);
    run.port = text(row, 3);
    run.portId = text(row, 4);
    run.unitId = optional(row, 5);
    run.operatorName = optional(row, 6);
    run.procedure = text(row, 7);
    run.toolVersion = text(row, 8);
    run.profile = optional(row, 9);
    run.started = text(row, 10);
    run.ended = text(row, 11);
    run.startedMs = std::stoll(text(row, 12));
    run.endedMs = std::stoll(text(row, 13));
    run.result = text(row, 14);
    run.failedStep = text(row, 15);
    runs.push_back(std::move(run));
  }
  for (RunRecord& run : runs) {
    if (!withImages) break;
    Parameters id;
    id.Text(run.runId);
    Result images = id.Exec(connection_,
                            "SELECT file, sha256, bytes, cpu, result, step, skipped, closing,"
                            " seconds::text, frames, retries, naks FROM morlane.images"
                            " WHERE run_id = $1 ORDER BY position");
    if (!images.Ok()) {
      *error = Trimmed(PQerrorMessage(connection_));
      runs.clear();
      break;
    }
    for (int row = 0; row < PQntuples(images.get()); ++row) {
      auto cell = [&images, row](int column) {
        return std::string(PQgetvalue(images.get(), row, column));
      };
      ImageRecord image;
      image.file = cell(0);
      image.sha256 = cell(1);
      image.bytes = PQgetisnull(images.get(), row, 2) ? -1 : std::stoll(cell(2));
      image.cpu = cell(3);
      image.result = cell(4);
      image.step = cell(5);
      image.skipped = cell(6) == "t";
      image.closing = cell(7);
      image.seconds = StepSeconds(cell(8));
      image.frames = std::stoi(cell(9));
      image.retries = std::stoi(cell(10));
      image.naks = std::stoi(cell(11));
      run.images.push_back(std::move(image));
    }
  }
  return runs;
}

std::vector<RunRecord> LineDatabase::List(const RunFilter& filter, std::string* error) {
  return Runs(filter, true, error);
}

std::vector<RunRecord> LineDatabase::Summaries(const RunFilter& filter, std::string* error) {
  return Runs(filter, false, error);
}

std::vector<YieldRow> LineDatabase::YieldRows(const RunFilter& filter, std::string* error) {
  std::vector<YieldRow> rows;
  for (const RunRecord& run : Runs(filter, false, error)) rows.push_back(YieldRow::Of(run));
  return rows;
}

std::optional<RunRecord> LineDatabase::Load(const std::string& runId, std::string* error) {
  RunFilter filter;
  filter.runId = runId;
  std::vector<RunRecord> runs = Runs(filter, true, error);
  if (runs.empty()) {
    if (error->empty()) *error = "no run " + runId + " in the line database";
    return std::nullopt;
  }
  return std::move(runs.front());
}

std::optional<std::string> LineDatabase::LogOf(const std::string& runId) {
  std::lock_guard lock(mutex_);
  std::string error;
  if (!Ready(&error)) return std::nullopt;
  Parameters id;
  id.Text(runId);
  Result select = id.Exec(connection_, "SELECT log FROM morlane.runs WHERE run_id = $1");
  if (!select.Ok() || PQntuples(select.get()) != 1) return std::nullopt;
  return std::string(PQgetvalue(select.get(), 0, 0));
}

}  // namespace morlane
