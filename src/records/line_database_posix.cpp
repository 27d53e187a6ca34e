// The line's database through libpq.
#include <libpq-fe.h>

#include <cstdio>
#include <optional>
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
    "  started_at TIMESTAMPTZ NOT NULL, ended_at TIMESTAMPTZ NOT NULL, result TEXT NOT NULL,"
    "  failed_step TEXT, record JSONB NOT NULL, log TEXT NOT NULL,"
    "  received_at TIMESTAMPTZ NOT NULL DEFAULT now());"
    "CREATE TABLE IF NOT EXISTS morlane.images ("
    "  run_id TEXT NOT NULL REFERENCES morlane.runs(run_id), position INTEGER NOT NULL,"
    "  file TEXT NOT NULL, sha256 TEXT, bytes BIGINT, cpu TEXT, result TEXT NOT NULL, step TEXT,"
    "  skipped BOOLEAN NOT NULL, closing TEXT, seconds JSONB NOT NULL, frames INTEGER NOT NULL,"
    "  retries INTEGER NOT NULL, naks INTEGER NOT NULL, PRIMARY KEY (run_id, position));"
    "CREATE INDEX IF NOT EXISTS runs_by_start ON morlane.runs(started_at);"
    "CREATE INDEX IF NOT EXISTS runs_by_unit ON morlane.runs(unit_id, started_at);";

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

  Result Exec(PGconn* connection, const char* sql) {
    std::vector<const char*> pointers;
    for (const auto& value : values_) pointers.push_back(value ? value->c_str() : nullptr);
    return Result(PQexecParams(connection, sql, static_cast<int>(pointers.size()), nullptr,
                               pointers.data(), nullptr, nullptr, 0));
  }

 private:
  std::vector<std::optional<std::string>> values_;
};

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
        " procedure, tool_version, profile, started, ended, started_at, ended_at, result,"
        " failed_step, record, log) VALUES ($1, $2, $3, $4, $5, $6, $7, $8, $9, $10, $11, $12,"
        " to_timestamp($13::bigint / 1000.0), to_timestamp($14::bigint / 1000.0), $15, $16,"
        " $17::jsonb, $18) ON CONFLICT (run_id) DO NOTHING");
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

bool LineDatabase::SendBacklog(RecordStore& store, int* sent, std::string* error) {
  std::lock_guard lock(mutex_);
  *sent = 0;
  error->clear();
  std::vector<std::string> ids = store.UnsentRunIds(error);
  if (!error->empty()) return false;
  if (ids.empty()) return true;
  if (!Connect(error) || !MakeSchema(error)) return false;
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

}  // namespace morlane
