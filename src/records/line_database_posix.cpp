// The line's database through libpq.
#include <libpq-fe.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <limits>
#include <optional>
#include <type_traits>
#include <unordered_map>
#include <variant>
#include <vector>

#include "platform/monotonic.h"
#include "platform/socket_wait.h"
#include "records/line_database.h"
#include "records/run_query.h"
#include "ui/json_text.h"

namespace morlane {

namespace {

// Every wait on the server is bounded: the connection with its start-up (a port that takes
// the connection and never speaks too), each statement, and a peer that vanished without
// closing the connection, whether data of ours is in flight (the user time-out) or the
// connection is idle waiting for an answer (keep-alives: about 10 + 3 x 3 s).
constexpr const char* kConnectTimeoutSeconds = "10";
constexpr const char* kUserTimeoutMs = "10000";
constexpr const char* kKeepaliveIdleSeconds = "10";
constexpr const char* kKeepaliveIntervalSeconds = "3";
constexpr const char* kKeepaliveCount = "3";
constexpr const char* kStatementTimeout = "SET statement_timeout = '10s'";
// The longest the client waits for the answer to one statement. The server's own time-out
// ends a slow statement first, with its own error, and the connection stays. This one ends
// a server that stopped answering at all (a frozen host, a stopped process), which
// libpq's own calls would wait for without end: the system still acknowledges every packet
// and keep-alive of a stopped process. The connection is dropped then, and made anew.
constexpr int kAnswerMs = 15000;
constexpr const char* kNoAnswer = "the server did not answer within 15 s";

// Whether the tables are there already (a writer whose account may insert but not create
// gets through, and nothing is locked when they are); the views and the slots' table; the
// runs' column of their step seconds, which a database an older version made lacks until an
// account that may alter the table comes.
constexpr const char* kSchemaThere =
    "SELECT to_regclass('morlane.runs') IS NOT NULL AND to_regclass('morlane.images') IS NOT"
    " NULL, to_regclass('morlane.v_yield_hourly') IS NOT NULL AND to_regclass('morlane.slots')"
    " IS NOT NULL, EXISTS (SELECT 1 FROM pg_attribute WHERE attrelid ="
    " to_regclass('morlane.runs') AND attname = 'step_seconds' AND NOT attisdropped)";

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
    // Each run's images' step seconds ("select=0.160 connect=2.200 ..."), kept with the run so that
    // the figures read them without the images (an older version's runs have none: their
    // images are read for them).
    "ALTER TABLE morlane.runs ADD COLUMN IF NOT EXISTS step_seconds TEXT;"
    "CREATE INDEX IF NOT EXISTS runs_by_start ON morlane.runs(started_ms);"
    "CREATE INDEX IF NOT EXISTS runs_by_unit ON morlane.runs(unit_id, started_ms);"
    // Each station's live state, as it reported it last: replaced whole at every report.
    "CREATE TABLE IF NOT EXISTS morlane.stations (station TEXT PRIMARY KEY,"
    "  backlog INTEGER NOT NULL, reported_at TIMESTAMPTZ NOT NULL);"
    "CREATE TABLE IF NOT EXISTS morlane.slots ("
    "  station TEXT NOT NULL REFERENCES morlane.stations(station), slot TEXT NOT NULL,"
    "  position INTEGER NOT NULL, state TEXT NOT NULL, unit_id TEXT, step TEXT NOT NULL,"
    "  percent INTEGER NOT NULL, since TEXT NOT NULL, operator TEXT, images TEXT[] NOT NULL,"
    "  PRIMARY KEY (station, slot));"
    // Views for other tools (a reader role, a dashboard): the runs and images as columns, and
    // the yield per hour and station figured as `records yield` figures a group: a unit is
    // its unit id (a run without one a unit of its own), its first run its earliest in the
    // group, the median of the run times and their 95th percentile by nearest rank.
    "CREATE OR REPLACE VIEW morlane.v_runs AS SELECT run_id, station, slot, port, unit_id,"
    "  operator, procedure, tool_version, started_at, ended_at,"
    "  greatest(0, ended_ms - started_ms) / 1000.0 AS seconds, result, failed_step,"
    "  record->'package'->>'release' AS release, record->'package'->>'model' AS model,"
    "  record->'package'->>'sha256' AS package_sha256 FROM morlane.runs;"
    "CREATE OR REPLACE VIEW morlane.v_images AS SELECT i.run_id, i.position, r.station, r.slot,"
    "  r.unit_id, r.started_at, i.file, i.sha256, i.bytes, i.cpu, i.result, i.step, i.skipped,"
    "  i.closing, i.frames, i.retries, i.naks FROM morlane.images i"
    "  JOIN morlane.runs r USING (run_id);"
    "CREATE OR REPLACE VIEW morlane.v_yield_hourly AS"
    "  WITH hourly AS (SELECT date_trunc('hour', started_at) AS hour, station, result,"
    "    greatest(0, ended_ms - started_ms) / 1000.0 AS seconds,"
    "    row_number() OVER (PARTITION BY date_trunc('hour', started_at), station,"
    "      coalesce('unit ' || unit_id, 'run ' || run_id) ORDER BY started_ms, run_id) AS nth"
    "    FROM morlane.runs)"
    "  SELECT hour, station, count(*) AS runs,"
    "    count(*) FILTER (WHERE result = 'pass') AS passed,"
    "    count(*) FILTER (WHERE result = 'fail') AS failed,"
    "    count(*) FILTER (WHERE result = 'aborted') AS aborted,"
    "    count(*) FILTER (WHERE nth = 1) AS units,"
    "    count(*) FILTER (WHERE nth = 1 AND result = 'pass') AS first_pass_units,"
    "    round((count(*) FILTER (WHERE nth = 1 AND result = 'pass'))::numeric /"
    "      count(*) FILTER (WHERE nth = 1), 4) AS first_pass_yield,"
    "    percentile_cont(0.5) WITHIN GROUP (ORDER BY seconds) AS median_seconds,"
    "    percentile_disc(0.95) WITHIN GROUP (ORDER BY seconds) AS p95_seconds"
    "  FROM hourly GROUP BY hour, station;";

// A result that clears itself. Without one (no answer in time, or the connection broke)
// the statement failed; lost says it was the time that ran out.
class Result {
 public:
  explicit Result(PGresult* result, bool lost = false) : result_(result), lost_(lost) {}
  ~Result() { PQclear(result_); }
  Result(Result&& other) noexcept : result_(other.result_), lost_(other.lost_) {
    other.result_ = nullptr;
  }
  Result(const Result&) = delete;
  Result& operator=(const Result&) = delete;
  PGresult* get() const { return result_; }
  bool Ok() const {
    const ExecStatusType status = PQresultStatus(result_);
    return status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK;
  }
  bool Lost() const { return lost_; }

 private:
  PGresult* result_;
  bool lost_;
};

// Takes the answer to what was sent, against one deadline, as PQexec would without one:
// the last result, or the first error among several.
Result Answer(PGconn* connection, bool sent) {
  if (!sent) return Result(nullptr);
  const int64_t deadline = MonotonicMs() + kAnswerMs;
  PGresult* kept = nullptr;
  for (;;) {
    const int flushed = PQflush(connection);
    if (flushed < 0) break;
    if (flushed == 0 && !PQisBusy(connection)) {
      PGresult* next = PQgetResult(connection);
      if (!next) return Result(kept);
      if (kept && PQresultStatus(kept) == PGRES_FATAL_ERROR) {
        PQclear(next);
      } else {
        PQclear(kept);
        kept = next;
      }
      continue;
    }
    const int64_t left = deadline - MonotonicMs();
    const SocketWait waited =
        left > 0 ? WaitOnSocket(PQsocket(connection), flushed == 1, static_cast<int>(left))
                 : SocketWait::TimedOut;
    if (waited == SocketWait::TimedOut) {
      PQclear(kept);
      return Result(nullptr, true);
    }
    if (waited == SocketWait::Failed || !PQconsumeInput(connection)) break;
  }
  // The connection broke: libpq's message says how.
  PQclear(kept);
  return Result(nullptr);
}

Result Ask(PGconn* connection, const char* sql) {
  return Answer(connection, PQsendQuery(connection, sql) == 1);
}

// Whether the connection is of no further use after this result.
bool Broken(const Result& result, PGconn* connection) {
  return result.Lost() || PQstatus(connection) != CONNECTION_OK;
}

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
  void Add(const std::variant<int64_t, std::string>& value) {
    if (const int64_t* number = std::get_if<int64_t>(&value)) {
      Number(*number);
    } else {
      Text(std::get<std::string>(value));
    }
  }
  void Null() { values_.push_back(std::nullopt); }
  size_t Count() const { return values_.size(); }

  Result Exec(PGconn* connection, const char* sql) {
    std::vector<const char*> pointers;
    for (const auto& value : values_) pointers.push_back(value ? value->c_str() : nullptr);
    return Answer(connection,
                  PQsendQueryParams(connection, sql, static_cast<int>(pointers.size()), nullptr,
                                    pointers.data(), nullptr, nullptr, 0) == 1);
  }

 private:
  std::vector<std::optional<std::string>> values_;
};

// A row of a result as the shared readers of runs and images take it.
class Row {
 public:
  Row(PGresult* result, int row) : result_(result), row_(row) {}
  std::string Text(int column) const { return PQgetvalue(result_, row_, column); }
  std::optional<std::string> OptionalText(int column) const {
    if (IsNull(column)) return std::nullopt;
    return Text(column);
  }
  int64_t Int(int column) const {
    return std::strtoll(PQgetvalue(result_, row_, column), nullptr, 10);
  }
  bool IsNull(int column) const { return PQgetisnull(result_, row_, column) != 0; }
  bool Flag(int column) const { return Text(column) == "t"; }

 private:
  PGresult* result_;
  int row_;
};

// Each step and its seconds in {"burn": 0.403, "close": 0.201, ...}, as the server prints a
// flat object of numbers; several such objects one after another are read as one.
template <typename Take>
void EachStepSecond(std::string_view json, Take take) {
  for (size_t at = json.find('"'); at != std::string_view::npos; at = json.find('"', at)) {
    const size_t end = json.find('"', at + 1);
    size_t number = end == std::string_view::npos ? end : json.find(':', end);
    if (number == std::string_view::npos) break;
    number = json.find_first_not_of(' ', number + 1);
    if (number == std::string_view::npos) break;
    double seconds = 0;
    const auto parsed = std::from_chars(json.data() + number, json.data() + json.size(), seconds);
    take(json.substr(at + 1, end - at - 1), parsed.ec == std::errc{} ? seconds : 0.0);
    at = static_cast<size_t>(parsed.ptr - json.data());
  }
}

std::vector<std::pair<std::string, double>> StepSeconds(const std::string& json) {
  std::vector<std::pair<std::string, double>> seconds;
  EachStepSecond(json, [&seconds](std::string_view step, double value) {
    seconds.emplace_back(std::string(step), value);
  });
  InStepOrder(seconds);
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

// Why a statement failed, in the client's words.
std::string ClientWords(const Result& result, PGconn* connection) {
  return result.Lost() ? kNoAnswer : Trimmed(PQerrorMessage(connection));
}

// The server's own words on a failed statement: its message and detail, on one line.
std::string ServerReason(PGresult* result) {
  const char* primary = PQresultErrorField(result, PG_DIAG_MESSAGE_PRIMARY);
  const char* detail = PQresultErrorField(result, PG_DIAG_MESSAGE_DETAIL);
  std::string reason = Trimmed(primary);
  if (detail && *detail) reason += " (" + Trimmed(detail) + ")";
  return reason;
}

// Whether a statement failed for the run itself: a value the server cannot take (22), a
// key or constraint it breaks (23), a size beyond the server's limits (54), or a rule of the
// line's own that raised an error over it (P0). Only then is the run set aside; anything
// else (the connection, a time-out, a server shutting down, a conflict with another writer,
// an account without the right to insert, tables not as this tool makes them) is no fault
// of the run, which waits.
bool RefusedForTheRun(PGresult* result) {
  if (PQresultStatus(result) != PGRES_FATAL_ERROR) return false;
  const char* state = PQresultErrorField(result, PG_DIAG_SQLSTATE);
  if (!state || std::strlen(state) != 5) return false;
  const std::string kind(state, 2);
  return kind == "22" || kind == "23" || kind == "54" || kind == "P0";
}

bool IsHex(char c) {
  return std::isxdigit(static_cast<unsigned char>(c)) != 0;
}

// The address as written with its password masked, and the password's own texts (as
// written), which no message may carry. A URL's password is all between the first ":" of
// the part before the host and the last "@" before the path; a setting's is the value of
// "password" (in a URL's query too).
std::string MaskedAddress(const std::string& url, std::vector<std::string>* secrets) {
  std::string shown = url;
  const size_t scheme = shown.find("://");
  if (scheme != std::string::npos) {
    const size_t start = scheme + 3;
    const size_t query = shown.find('?', start);
    const size_t at = shown.rfind('@', query == std::string::npos ? std::string::npos : query);
    if (at != std::string::npos && at >= start) {
      const size_t colon = shown.find(':', start);
      if (colon != std::string::npos && colon < at) {
        secrets->push_back(shown.substr(colon + 1, at - colon - 1));
        shown.replace(colon + 1, at - colon - 1, "***");
      }
    }
  }
  // password=VALUE: in a query up to "&", in settings up to a blank (or quoted).
  for (size_t at = shown.find("password="); at != std::string::npos;
       at = shown.find("password=", at + 1)) {
    if (at > 0 && std::isalnum(static_cast<unsigned char>(shown[at - 1]))) continue;
    const size_t value = at + 9;
    size_t end = value;
    if (end < shown.size() && shown[end] == '\'') {
      for (++end; end < shown.size() && shown[end] != '\''; ++end) {
        if (shown[end] == '\\') ++end;
      }
      end = std::min(end + 1, shown.size());
    } else {
      end = shown.find_first_of(scheme == std::string::npos ? " \t\n" : "&", value);
      if (end == std::string::npos) end = shown.size();
    }
    secrets->push_back(shown.substr(value, end - value));
    shown.replace(value, end - value, "***");
  }
  return shown;
}

// Every text in double quotes taken out: a parser's words quote what it could not read,
// which may be a piece of the password.
std::string Unquoted(const std::string& text) {
  std::string out;
  bool quoted = false;
  for (char c : text) {
    if (c == '"') {
      if (!quoted) out += "\"...\"";
      quoted = !quoted;
    } else if (!quoted) {
      out += c;
    }
  }
  return out;
}

std::string Replaced(std::string text, const std::vector<std::string>& secrets) {
  for (const std::string& secret : secrets) {
    if (secret.empty()) continue;
    for (size_t at = text.find(secret); at != std::string::npos; at = text.find(secret, at + 3)) {
      text.replace(at, secret.size(), "***");
    }
  }
  return text;
}

// The address read by the client: where it leads, and the password as it will be sent.
struct Address {
  std::string host, port, dbname, user, password;
};

bool ReadAddress(const std::string& url, Address* address, std::string* why) {
  char* message = nullptr;
  PQconninfoOption* options = PQconninfoParse(url.c_str(), &message);
  if (!options) {
    *why = message ? Trimmed(message) : "out of memory";
    PQfreemem(message);
    return false;
  }
  for (PQconninfoOption* option = options; option->keyword; ++option) {
    const std::string key = option->keyword;
    const std::string value = option->val ? option->val : "";
    if (key == "host") address->host = value;
    if (key == "hostaddr" && address->host.empty()) address->host = value;
    if (key == "port") address->port = value;
    if (key == "dbname") address->dbname = value;
    if (key == "user") address->user = value;
    if (key == "password") address->password = value;
  }
  PQconninfoFree(options);
  return true;
}

std::string WhereOf(const Address& address) {
  return "postgresql://" + (address.user.empty() ? std::string() : address.user + "@") +
         (address.host.empty() ? std::string("localhost") : address.host) + ":" +
         (address.port.empty() ? std::string("5432") : address.port) + "/" + address.dbname;
}

bool IsUri(const std::string& url) {
  return url.rfind("postgresql://", 0) == 0 || url.rfind("postgres://", 0) == 0;
}

// What is wrong with an address before the client reads it, or "" when nothing is: the
// client's own words would quote the password.
std::string FaultBeforeReading(const std::string& url) {
  if (url.empty()) return "no address";
  if (!IsUri(url) && url.find("://") != std::string::npos) {
    return "not a postgresql:// or postgres:// URL";
  }
  if (!IsUri(url) && url.find('=') == std::string::npos) {
    return "neither a postgresql:// URL nor key=value settings";
  }
  for (size_t at = url.find('%'); IsUri(url) && at != std::string::npos;
       at = url.find('%', at + 1)) {
    if (at + 2 >= url.size() || !IsHex(url[at + 1]) || !IsHex(url[at + 2])) {
      return "a \"%\" not followed by two hex digits (a \"%\" in the password is written %25)";
    }
  }
  return {};
}

// What is wrong with an address the client read, or "" when nothing is: the faults that
// would put a piece of the password where messages name the host or the port.
std::string Fault(const Address& address) {
  if (address.host.find('@') != std::string::npos ||
      address.dbname.find('@') != std::string::npos) {
    return "more than one \"@\" before the host (an \"@\" in the password is written %40)";
  }
  size_t from = 0;
  while (!address.port.empty() && from <= address.port.size()) {
    size_t end = address.port.find(',', from);
    if (end == std::string::npos) end = address.port.size();
    const std::string port = address.port.substr(from, end - from);
    const bool number = !port.empty() && port.size() <= 5 &&
                        port.find_first_not_of("0123456789") == std::string::npos &&
                        std::stoi(port) >= 1 && std::stoi(port) <= 65535;
    if (!number) {
      return "its port is no number from 1 to 65535 (in the password a \"/\" is written %2F, "
             "\"?\" %3F, \"#\" %23, \":\" may stay)";
    }
    from = end + 1;
  }
  return {};
}

// Discards the server's notices ("schema ... already exists, skipping"): the station's
// terminal and windows are the operator's.
void IgnoreNotice(void*, const char*) {}

}  // namespace

LineDatabase::LineDatabase(std::string url) : url_(std::move(url)) {
  where_ = MaskedAddress(url_, &secrets_);
  Address address;
  std::string ignored;
  if (FaultBeforeReading(url_).empty() && ReadAddress(url_, &address, &ignored) &&
      Fault(address).empty()) {
    where_ = WhereOf(address);
    if (!address.password.empty()) secrets_.push_back(address.password);
  }
}

bool LineDatabase::CheckAddress(const std::string& url, std::string* why) {
  std::vector<std::string> secrets;
  const std::string shown = MaskedAddress(url, &secrets);
  std::string fault = FaultBeforeReading(url);
  Address address;
  if (fault.empty()) {
    if (ReadAddress(url, &address, &fault)) {
      fault = Fault(address);
    } else {
      fault = Replaced(secrets.empty() ? fault : Unquoted(fault), secrets);
    }
  }
  if (fault.empty()) return true;
  *why = shown + ": " + fault;
  return false;
}

std::string LineDatabase::Scrubbed(std::string text) const {
  return Replaced(std::move(text), secrets_);
}

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
  listening_ = false;
}

bool LineDatabase::Connect(std::string* error) {
  if (connection_ && PQstatus(connection_) == CONNECTION_OK) return true;
  Disconnect();
  // The address's own settings come after the bounds, so that it may set others.
  const char* keys[] = {"connect_timeout",     "tcp_user_timeout", "keepalives", "keepalives_idle",
                        "keepalives_interval", "keepalives_count", "dbname",     nullptr};
  const char* values[] = {
      kConnectTimeoutSeconds,    kUserTimeoutMs,  "1",          kKeepaliveIdleSeconds,
      kKeepaliveIntervalSeconds, kKeepaliveCount, url_.c_str(), nullptr};
  connection_ = PQconnectdbParams(keys, values, 1);
  if (connection_) PQsetNoticeProcessor(connection_, IgnoreNotice, nullptr);
  if (!connection_ || PQstatus(connection_) != CONNECTION_OK) {
    *error = connection_ ? Scrubbed(Trimmed(PQerrorMessage(connection_))) : "out of memory";
    Disconnect();
    return false;
  }
  // From here on no call of libpq waits by itself: Answer bounds every wait.
  PQsetnonblocking(connection_, 1);
  for (const char* setting : {kStatementTimeout, "SET client_encoding = 'UTF8'"}) {
    Result set = Ask(connection_, setting);
    if (!set.Ok()) {
      *error = Scrubbed(ClientWords(set, connection_));
      Disconnect();
      return false;
    }
  }
  // Reading the figures of 10^5 runs, a server that compiles its queries took longer to
  // compile the one that reads them (150 ms) than to run it. A server older than its
  // setting says no, and goes on as it is.
  Result noCompiling = Ask(connection_, "SET jit = off");
  if (noCompiling.Lost()) {
    *error = Scrubbed(ClientWords(noCompiling, connection_));
    Disconnect();
    return false;
  }
  return true;
}

bool LineDatabase::MakeSchema(std::string* error) {
  if (schemaMade_) return true;
  // A statement without an answer in time leaves the connection of no further use.
  auto failed = [&](const Result& result) {
    *error = Scrubbed(ClientWords(result, connection_));
    if (result.Lost()) Disconnect();
    return false;
  };
  bool tablesThere = false;
  {
    Result there = Ask(connection_, kSchemaThere);
    if (there.Ok() && PQntuples(there.get()) == 1) {
      tablesThere = std::string(PQgetvalue(there.get(), 0, 0)) == "t";
      stepSecondsColumn_ = std::string(PQgetvalue(there.get(), 0, 2)) == "t";
      if (tablesThere && stepSecondsColumn_ && std::string(PQgetvalue(there.get(), 0, 1)) == "t") {
        schemaMade_ = true;
        return true;
      }
    }
    if (there.Lost()) return failed(there);
  }
  Result begin = Ask(connection_, "BEGIN");
  if (!begin.Ok()) return failed(begin);
  Result made = Ask(connection_, kSchema);
  if (!made.Ok()) {
    if (made.Lost()) return failed(made);
    const std::string why = Scrubbed(ClientWords(made, connection_));
    Result rollback = Ask(connection_, "ROLLBACK");
    // A database made by an older version, and an account that may add runs but not views:
    // the runs go in all the same, and the views wait for an account that may make them.
    if (tablesThere && rollback.Ok()) {
      schemaMade_ = true;
      return true;
    }
    *error = "cannot make the line database's tables: " + why;
    return false;
  }
  Result commit = Ask(connection_, "COMMIT");
  if (!commit.Ok()) return failed(commit);
  schemaMade_ = true;
  stepSecondsColumn_ = true;
  return true;
}

LineDatabase::Sent LineDatabase::Send(const RunRecord& run, const std::string& log,
                                      std::string* reason) {
  // The first statement that failed decides: a refusal of the run, or a moment's trouble.
  bool refused = false;
  bool lost = false;
  auto failed = [&](const Result& result) {
    if (result.Ok()) return false;
    refused = RefusedForTheRun(result.get());
    *reason = refused ? ServerReason(result.get()) : ClientWords(result, connection_);
    lost = lost || result.Lost();
    return true;
  };
  bool ok = !failed(Ask(connection_, "BEGIN"));
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
    if (stepSecondsColumn_) values.Text(StepSecondsText(run.images));
    Result insert = values.Exec(
        connection_,
        stepSecondsColumn_
            ? "INSERT INTO morlane.runs (run_id, station, slot, port, port_id, unit_id, operator,"
              " procedure, tool_version, profile, started, ended, started_at, ended_at,"
              " started_ms, ended_ms, result, failed_step, record, log, step_seconds) VALUES ($1,"
              " $2, $3, $4, $5, $6, $7, $8, $9, $10, $11, $12, to_timestamp($13::bigint /"
              " 1000.0), to_timestamp($14::bigint / 1000.0), $13, $14, $15, $16, $17::jsonb, $18,"
              " $19) ON CONFLICT (run_id) DO NOTHING"
            : "INSERT INTO morlane.runs (run_id, station, slot, port, port_id, unit_id, operator,"
              " procedure, tool_version, profile, started, ended, started_at, ended_at,"
              " started_ms, ended_ms, result, failed_step, record, log) VALUES ($1, $2, $3, $4,"
              " $5, $6, $7, $8, $9, $10, $11, $12, to_timestamp($13::bigint / 1000.0),"
              " to_timestamp($14::bigint / 1000.0), $13, $14, $15, $16, $17::jsonb, $18)"
              " ON CONFLICT (run_id) DO NOTHING");
    ok = !failed(insert);
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
    ok = !failed(values.Exec(
        connection_,
        "INSERT INTO morlane.images (run_id, position, file, sha256, bytes, cpu, result, step,"
        " skipped, closing, seconds, frames, retries, naks) VALUES ($1, $2, $3, $4, $5, $6, $7,"
        " $8, $9, $10, $11::jsonb, $12, $13, $14)"));
  }
  if (ok && stored) {
    // Told to the line's listeners (its dashboards) when the run is committed.
    Parameters id;
    id.Text(run.runId);
    ok = !failed(id.Exec(connection_, "SELECT pg_notify('morlane_run', $1)"));
  }
  if (ok) ok = !failed(Ask(connection_, "COMMIT"));
  if (ok) return Sent::Stored;
  *reason = Scrubbed(*reason);
  if (lost) {
    // What the server did with the transaction is unknown: it ends with the connection, and
    // the run, never marked sent, goes again on the next.
    Disconnect();
    return Sent::Waits;
  }
  Result rollback = Ask(connection_, "ROLLBACK");
  // A connection that broke is not the run's fault, whatever the last answer said.
  return refused && PQstatus(connection_) == CONNECTION_OK ? Sent::Refused : Sent::Waits;
}

bool LineDatabase::CheckWritable(std::string* error) {
  std::lock_guard lock(mutex_);
  if (!Connect(error) || !MakeSchema(error)) return false;
  Result may = Ask(connection_,
                   "SELECT has_table_privilege('morlane.runs', 'INSERT') AND "
                   "has_table_privilege('morlane.images', 'INSERT')");
  if (!may.Ok()) {
    *error = Scrubbed(ClientWords(may, connection_));
    if (may.Lost()) Disconnect();
    return false;
  }
  if (PQntuples(may.get()) != 1 || std::string(PQgetvalue(may.get(), 0, 0)) != "t") {
    *error = "this account may not add runs to the tables morlane.runs and morlane.images";
    return false;
  }
  return true;
}

Delivery LineDatabase::SendBacklog(RecordStore& store, int batch, bool retrySetAside) {
  std::lock_guard lock(mutex_);
  Delivery delivery;
  std::string error;
  std::vector<std::string> ids =
      store.UnsentRunIds(&error, retrySetAside, batch < 0 ? -1 : batch + 1);
  if (!error.empty()) {
    delivery.error = error;
    return delivery;
  }
  if (batch >= 0 && ids.size() > static_cast<size_t>(batch)) {
    ids.pop_back();
    delivery.more = true;
  }
  if (ids.empty()) return delivery;
  if (!Connect(&error)) {
    delivery.unreachable = true;
    delivery.error = error;
    delivery.more = true;
    return delivery;
  }
  if (!MakeSchema(&error)) {
    delivery.unreachable = PQstatus(connection_) != CONNECTION_OK;
    if (delivery.unreachable) Disconnect();
    delivery.error = error;
    delivery.more = true;
    return delivery;
  }
  for (const std::string& id : ids) {
    std::optional<RunRecord> run = store.Load(id, &error);
    if (!run) {
      delivery.error = error;
      delivery.more = true;
      return delivery;
    }
    const std::string log = store.LogOf(id).value_or("");
    std::string reason;
    const Sent sent = Send(*run, log, &reason);
    if (sent == Sent::Waits) {
      // A connection that broke is made anew at the next call.
      delivery.unreachable = PQstatus(connection_) != CONNECTION_OK;
      if (delivery.unreachable) Disconnect();
      delivery.error = "run " + id + ": " + reason;
      delivery.more = true;
      return delivery;
    }
    const bool marked =
        sent == Sent::Stored ? store.MarkSent(id, &error) : store.SetAside(id, reason, &error);
    if (!marked) {
      delivery.error = error;
      delivery.more = true;
      return delivery;
    }
    if (sent == Sent::Stored) {
      ++delivery.sent;
    } else {
      delivery.refused.push_back(SetAsideRun{id, reason});
    }
  }
  return delivery;
}

std::string LineDatabase::Unreachable(const std::string& why) const {
  return "the line database cannot be reached at " + where_ + " (" + why + ")";
}

bool LineDatabase::SelectRuns(const std::string& head, const std::string& after,
                              const RunFilter& filter, bool ordered,
                              const std::function<void(pg_result*, int)>& take,
                              std::string* error) {
  error->clear();
  // A reader never makes the tables: SELECT on them is all it needs.
  if (!Connect(error)) {
    *error = Unreachable(*error);
    return false;
  }
  const FilterSql filterSql = FilterClause(filter, '$', ordered);
  Parameters values;
  for (const auto& value : filterSql.values) values.Add(value);
  const std::string sql = head + " FROM morlane.runs" + filterSql.clause + after;
  Result select = values.Exec(connection_, sql.c_str());
  if (!select.Ok()) {
    // No station has sent a run yet: the tables are made by the first, and there is
    // nothing to read.
    const char* state = PQresultErrorField(select.get(), PG_DIAG_SQLSTATE);
    if (state && std::string(state) == "42P01") return true;
    *error = "the line database " + where_ + ": " + Scrubbed(ClientWords(select, connection_));
    if (Broken(select, connection_)) Disconnect();
    return false;
  }
  for (int row = 0; row < PQntuples(select.get()); ++row) take(select.get(), row);
  return true;
}

std::vector<RunRecord> LineDatabase::Runs(const RunFilter& filter, bool withImages,
                                          std::string* error) {
  std::lock_guard lock(mutex_);
  std::vector<RunRecord> runs;
  const bool read = SelectRuns(
      std::string("SELECT ") + kRunColumns + kLinePackageColumns, "", filter, true,
      [&runs](pg_result* result, int row) {
        Row cells(result, row);
        runs.push_back(RunFromRow(cells));
      },
      error);
  if (!read) return runs;
  const std::string imagesSql = std::string("SELECT ") + kImageColumns +
                                " FROM morlane.images WHERE run_id = $1 ORDER BY position";
  for (RunRecord& run : runs) {
    if (!withImages) break;
    Parameters id;
    id.Text(run.runId);
    Result images = id.Exec(connection_, imagesSql.c_str());
    if (!images.Ok()) {
      *error = "the line database " + where_ + ": " + Scrubbed(ClientWords(images, connection_));
      if (Broken(images, connection_)) Disconnect();
      runs.clear();
      break;
    }
    for (int row = 0; row < PQntuples(images.get()); ++row) {
      Row cells(images.get(), row);
      run.images.push_back(ImageFromRow(cells, StepSeconds));
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
  std::lock_guard lock(mutex_);
  std::vector<YieldRow> rows;
  // The figures' columns alone (the whole records are never read for them) and the step
  // seconds of each run's images: kept with the run; read from the images for a run that an
  // older version sent, or all of them where the table has no such column yet (the server
  // then joins the runs and their images at once, a look-up per run taking three times as
  // long). A run's rows come one after another there, mostly: the run of the row before is
  // looked at first.
  if (!Connect(error)) {
    *error = Unreachable(*error);
    return rows;
  }
  bool column = false;
  {
    Result there = Ask(connection_, kSchemaThere);
    column = there.Ok() && PQntuples(there.get()) == 1 &&
             std::string(PQgetvalue(there.get(), 0, 2)) == "t";
    if (there.Lost()) Disconnect();
  }
  const char* head =
      column ? "SELECT run_id, substr(started, 1, 13), station, slot, unit_id, result,"
               " failed_step, started_ms, ended_ms, coalesce(step_seconds, (SELECT"
               " string_agg(s.key || '=' || s.value, ' ') FROM morlane.images i,"
               " jsonb_each_text(i.seconds) s WHERE i.run_id = morlane.runs.run_id))"
             : "SELECT r.*, i.seconds::text FROM (SELECT run_id, substr(started, 1, 13), station,"
               " slot, unit_id, result, failed_step, started_ms, ended_ms";
  // Run ids as the answer holds them: the map is not used once the answer is gone.
  std::unordered_map<std::string_view, size_t> taken;
  std::string_view lastRun;
  size_t current = 0;
  const bool read = SelectRuns(
      head, column ? "" : ") r LEFT JOIN morlane.images i USING (run_id)", filter, false,
      [&rows, &taken, &lastRun, &current, column](pg_result* result, int at) {
        Row cells(result, at);
        auto take = [&rows, &cells] {
          const std::string hour = cells.Text(1);
          rows.push_back(YieldRow{hour.substr(0, 10),
                                  hour,
                                  cells.Text(2),
                                  cells.Text(3),
                                  cells.OptionalText(4),
                                  cells.Text(5),
                                  cells.Text(6),
                                  cells.Int(7),
                                  cells.Int(8),
                                  {}});
          return rows.size() - 1;
        };
        if (rows.empty()) rows.reserve(static_cast<size_t>(PQntuples(result)));
        const std::string_view runId(PQgetvalue(result, at, 0),
                                     static_cast<size_t>(PQgetlength(result, at, 0)));
        if (column) {
          current = take();  // a row each run
        } else if (rows.empty() || runId != lastRun) {
          if (taken.empty()) taken.reserve(static_cast<size_t>(PQntuples(result)));
          const auto [run, fresh] = taken.try_emplace(runId, rows.size());
          current = fresh ? take() : run->second;
          lastRun = runId;
        }
        if (cells.IsNull(9)) return;
        YieldRow& row = rows[current];
        const std::string_view seconds(PQgetvalue(result, at, 9),
                                       static_cast<size_t>(PQgetlength(result, at, 9)));
        if (column) {
          AddStepSeconds(seconds, row);
        } else {
          EachStepSecond(seconds, [&row](std::string_view step, double value) {
            row.AddSeconds(step, value);
          });
        }
      },
      error);
  if (!read) rows.clear();
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
  if (!Connect(&error)) return std::nullopt;
  Parameters id;
  id.Text(runId);
  Result select = id.Exec(connection_, "SELECT log FROM morlane.runs WHERE run_id = $1");
  if (Broken(select, connection_)) Disconnect();
  if (!select.Ok() || PQntuples(select.get()) != 1) return std::nullopt;
  return std::string(PQgetvalue(select.get(), 0, 0));
}

bool LineDatabase::ReportLive(const LiveStation& station, std::string* error) {
  std::lock_guard lock(mutex_);
  if (!Connect(error) || !MakeSchema(error)) return false;
  bool ok = true;
  auto step = [&](Result result) {
    if (!ok || result.Ok()) return;
    ok = false;
    *error = Scrubbed(ClientWords(result, connection_));
    if (Broken(result, connection_)) Disconnect();
  };
  step(Ask(connection_, "BEGIN"));
  if (ok) {
    Parameters values;
    values.Text(station.station);
    values.Number(station.backlog);
    step(values.Exec(connection_,
                     "INSERT INTO morlane.stations (station, backlog, reported_at) VALUES ($1, $2,"
                     " now()) ON CONFLICT (station) DO UPDATE SET backlog = EXCLUDED.backlog,"
                     " reported_at = EXCLUDED.reported_at"));
  }
  if (ok) {
    Parameters values;
    values.Text(station.station);
    step(values.Exec(connection_, "DELETE FROM morlane.slots WHERE station = $1"));
  }
  for (size_t i = 0; ok && i < station.slots.size(); ++i) {
    const LiveSlot& slot = station.slots[i];
    // The digests are hexadecimal: a space parts them.
    std::string images;
    for (const std::string& digest : slot.images) images += (images.empty() ? "" : " ") + digest;
    Parameters values;
    values.Text(station.station);
    values.Text(slot.slot);
    values.Number(static_cast<int64_t>(i));
    values.Text(slot.state);
    values.Optional(slot.unitId);
    values.Text(slot.step);
    values.Number(slot.percent);
    values.Text(slot.since);
    values.Optional(slot.operatorName);
    values.Text(images);
    step(values.Exec(connection_,
                     "INSERT INTO morlane.slots (station, slot, position, state, unit_id, step,"
                     " percent, since, operator, images) VALUES ($1, $2, $3, $4, $5, $6, $7, $8,"
                     " $9, string_to_array($10, ' '))"));
  }
  if (ok) {
    Parameters values;
    values.Text(station.station);
    step(values.Exec(connection_, "SELECT pg_notify('morlane_live', $1)"));
  }
  if (ok) step(Ask(connection_, "COMMIT"));
  if (!ok && connection_) Result rollback = Ask(connection_, "ROLLBACK");
  return ok;
}

std::vector<LiveStation> LineDatabase::ReadLive(std::string* error) {
  std::lock_guard lock(mutex_);
  if (!Connect(error)) return {};
  Parameters stale;
  stale.Number(kLiveStaleSeconds);
  Result select = stale.Exec(
      connection_,
      "SELECT s.station, s.backlog, to_char(s.reported_at AT TIME ZONE 'UTC',"
      " 'YYYY-MM-DD\"T\"HH24:MI:SS\"+00:00\"'), s.reported_at > now() - make_interval(secs => $1),"
      " l.slot, l.state, l.unit_id, l.step, l.percent, l.since, l.operator, "
      "array_to_string(l.images, ' ')"
      " FROM morlane.stations s LEFT JOIN morlane.slots l USING (station)"
      " ORDER BY s.station, l.position");
  if (!select.Ok()) {
    *error = Scrubbed(ClientWords(select, connection_));
    if (Broken(select, connection_)) Disconnect();
    return {};
  }
  std::vector<LiveStation> stations;
  auto text = [&](int row, int column) {
    return std::string(PQgetvalue(select.get(), row, column));
  };
  auto optional = [&](int row, int column) -> std::optional<std::string> {
    if (PQgetisnull(select.get(), row, column)) return std::nullopt;
    return text(row, column);
  };
  for (int row = 0; row < PQntuples(select.get()); ++row) {
    if (stations.empty() || stations.back().station != text(row, 0)) {
      LiveStation station;
      station.station = text(row, 0);
      station.backlog = std::atoi(PQgetvalue(select.get(), row, 1));
      station.reported = text(row, 2);
      station.online = text(row, 3) == "t";
      stations.push_back(std::move(station));
    }
    if (PQgetisnull(select.get(), row, 4)) continue;  // a station without slots
    LiveSlot slot;
    slot.slot = text(row, 4);
    slot.state = text(row, 5);
    slot.unitId = optional(row, 6);
    slot.step = text(row, 7);
    slot.percent = std::atoi(PQgetvalue(select.get(), row, 8));
    slot.since = text(row, 9);
    slot.operatorName = optional(row, 10);
    const std::string digests = text(row, 11);
    for (size_t at = 0; at < digests.size();) {
      const size_t end = std::min(digests.find(' ', at), digests.size());
      slot.images.push_back(digests.substr(at, end - at));
      at = end + 1;
    }
    stations.back().slots.push_back(std::move(slot));
  }
  return stations;
}

bool LineDatabase::WaitForNews(int ms, News* news, std::string* error) {
  std::lock_guard lock(mutex_);
  if (!Connect(error)) return false;
  if (!listening_) {
    Result listen = Ask(connection_, "LISTEN morlane_run; LISTEN morlane_live");
    if (!listen.Ok()) {
      *error = Scrubbed(ClientWords(listen, connection_));
      Disconnect();
      return false;
    }
    listening_ = true;
  }
  const int64_t deadline = MonotonicMs() + ms;
  for (;;) {
    if (!PQconsumeInput(connection_)) {
      *error = Scrubbed(PQerrorMessage(connection_));
      Disconnect();
      return false;
    }
    while (PGnotify* notice = PQnotifies(connection_)) {
      const std::string channel = notice->relname;
      (channel == "morlane_run" ? news->runIds : news->stations).push_back(notice->extra);
      PQfreemem(notice);
    }
    const int64_t left = deadline - MonotonicMs();
    if (!news->Empty() || left <= 0) return true;
    if (WaitOnSocket(PQsocket(connection_), false, static_cast<int>(left)) == SocketWait::Failed) {
      *error = "the connection to " + where_ + " broke";
      Disconnect();
      return false;
    }
  }
}

}  // namespace morlane
