#include "records/record_store.h"

#include <sqlite3.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <span>
#include <system_error>
#include <variant>

#include "platform/file_io.h"
#include "platform/utf8_path.h"
#include "records/run_query.h"

namespace morlane {

namespace {

namespace fs = std::filesystem;

constexpr const char* kDatabaseName = "records.db";
constexpr const char* kRunsFolder = "runs";
// A station that cannot keep a day's records must say so before it programs a unit; a
// run takes a few kilobytes, so this is room for thousands.
constexpr uintmax_t kMinFreeBytes = 16u << 20;
// Another station may hold the write lock while it commits a run.
constexpr int kBusyTimeoutMs = 15000;
// A log is read back for `records show`; a run's log is far below this.
constexpr uint64_t kMaxLogBytes = 64u << 20;

// Each entry brings the schema from its index to the next version, in one transaction.
// New entries are only ever appended: a station's records.db written by an older tool is
// migrated through all that follow its version.
constexpr const char* kMigrations[] = {
    // 0 -> 1: runs and the images each tried.
    "CREATE TABLE runs ("
    "  run_id TEXT PRIMARY KEY, station TEXT NOT NULL, slot TEXT NOT NULL,"
    "  port TEXT NOT NULL, port_id TEXT NOT NULL, unit_id TEXT, operator TEXT,"
    "  procedure TEXT NOT NULL, tool_version TEXT NOT NULL, profile TEXT,"
    "  started TEXT NOT NULL, ended TEXT NOT NULL,"
    "  started_ms INTEGER NOT NULL, ended_ms INTEGER NOT NULL,"
    "  result TEXT NOT NULL, failed_step TEXT,"
    "  pushed INTEGER NOT NULL DEFAULT 0);"
    "CREATE TABLE images ("
    "  run_id TEXT NOT NULL REFERENCES runs(run_id), position INTEGER NOT NULL,"
    "  file TEXT NOT NULL, sha256 TEXT, bytes INTEGER, cpu TEXT, result TEXT NOT NULL,"
    "  step TEXT, skipped INTEGER NOT NULL, closing TEXT, seconds TEXT NOT NULL,"
    "  frames INTEGER NOT NULL, retries INTEGER NOT NULL, naks INTEGER NOT NULL,"
    "  PRIMARY KEY (run_id, position));"
    // Holds every column the yield figures read, so that they never touch the wide rows.
    "CREATE INDEX runs_by_start ON runs(started_ms, started, station, slot, unit_id, result,"
    "  failed_step, ended_ms);"
    "CREATE INDEX runs_by_unit ON runs(unit_id, started_ms);"
    "CREATE INDEX runs_by_result ON runs(result, started_ms);"
    "CREATE INDEX runs_by_station ON runs(station, started_ms);"
    "CREATE INDEX runs_not_pushed ON runs(pushed) WHERE pushed = 0;",
    // 1 -> 2: the server's reason for a run the line's database refused; such a run is set
    // aside and holds back none after it.
    "ALTER TABLE runs ADD COLUMN refused TEXT;",
    // 2 -> 3: the service package a run took its images from.
    "ALTER TABLE runs ADD COLUMN package_file TEXT;"
    "ALTER TABLE runs ADD COLUMN package_sha256 TEXT;"
    "ALTER TABLE runs ADD COLUMN package_model TEXT;"
    "ALTER TABLE runs ADD COLUMN package_release TEXT;"
    "ALTER TABLE runs ADD COLUMN package_signer TEXT;",
    // 3 -> 4: each run's step seconds, its images' one after another, read with the figures'
    // other columns from their index: looking up 10^5 runs' images took twice as long as
    // reading all the rest.
    "ALTER TABLE runs ADD COLUMN step_seconds TEXT;"
    "UPDATE runs SET step_seconds = (SELECT group_concat(seconds, ' ') FROM"
    "  (SELECT seconds FROM images WHERE images.run_id = runs.run_id ORDER BY position));"
    "DROP INDEX runs_by_start;"
    "CREATE INDEX runs_by_start ON runs(started_ms, started, station, slot, unit_id, result,"
    "  failed_step, ended_ms, step_seconds);",
};
static_assert(std::size(kMigrations) == RecordStore::kSchemaVersion);

// A prepared statement that finalizes itself.
class Statement {
 public:
  Statement(sqlite3* db, const char* sql) { sqlite3_prepare_v2(db, sql, -1, &statement_, nullptr); }
  ~Statement() { sqlite3_finalize(statement_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  bool Ok() const { return statement_ != nullptr; }
  sqlite3_stmt* get() { return statement_; }

  void Bind(int at, const std::string& text) {
    sqlite3_bind_text(statement_, at, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
  }
  // Empty text stands for an absent fact.
  void BindOrNull(int at, const std::string& text) {
    if (text.empty()) {
      sqlite3_bind_null(statement_, at);
    } else {
      Bind(at, text);
    }
  }
  void Bind(int at, const std::optional<std::string>& text) {
    if (text) {
      Bind(at, *text);
    } else {
      sqlite3_bind_null(statement_, at);
    }
  }
  void Bind(int at, int64_t value) { sqlite3_bind_int64(statement_, at, value); }

  std::string Text(int column) {
    const unsigned char* text = sqlite3_column_text(statement_, column);
    return text ? std::string(reinterpret_cast<const char*>(text),
                              static_cast<size_t>(sqlite3_column_bytes(statement_, column)))
                : std::string();
  }
  // Valid until the next step: read it before.
  std::string_view View(int column) {
    const unsigned char* text = sqlite3_column_text(statement_, column);
    return text ? std::string_view(reinterpret_cast<const char*>(text),
                                   static_cast<size_t>(sqlite3_column_bytes(statement_, column)))
                : std::string_view();
  }
  std::optional<std::string> OptionalText(int column) {
    if (sqlite3_column_type(statement_, column) == SQLITE_NULL) return std::nullopt;
    return Text(column);
  }
  int64_t Int(int column) { return sqlite3_column_int64(statement_, column); }
  bool IsNull(int column) { return sqlite3_column_type(statement_, column) == SQLITE_NULL; }
  bool Flag(int column) { return Int(column) != 0; }
  // A filter's values, in their numbers.
  void Bind(const FilterSql& filter) {
    for (size_t i = 0; i < filter.values.size(); ++i) {
      const int at = static_cast<int>(i + 1);
      std::visit([this, at](const auto& value) { Bind(at, value); }, filter.values[i]);
    }
  }

 private:
  sqlite3_stmt* statement_ = nullptr;
};

std::string Reason(sqlite3* db, const std::string& what) {
  return what + ": " + (db ? sqlite3_errmsg(db) : "out of memory");
}

// Whether the folder takes a file: a probe is written as a run's files are, then removed.
bool FolderTakesFiles(const fs::path& folder, std::string* error) {
  // A name of its own: another station may be probing the same folder.
  const fs::path probe = folder / ("probe-" + NewRunId(0) + ".tmp");
  std::string why;
  if (!WriteFileDurably(PathToUtf8(probe), "probe\n", &why)) {
    *error = "cannot write records in " + PathToUtf8(folder) + ": " + why;
    return false;
  }
  std::error_code ignored;
  fs::remove(probe, ignored);
  return true;
}

// Whether the folder takes a run now: its runs folder takes files and the disk has room.
bool FolderTakesRuns(const fs::path& root, std::string* error) {
  if (!FolderTakesFiles(root / kRunsFolder, error)) return false;
  std::error_code failure;
  const fs::space_info space = fs::space(root, failure);
  if (!failure && space.available < kMinFreeBytes) {
    *error = "no room for records in " + PathToUtf8(root) + " (" +
             std::to_string(space.available / 1024) + " KiB free)";
    return false;
  }
  return true;
}

// The schema version of an open database; an SQLite result code other than SQLITE_OK when
// it cannot be read.
int ReadVersion(sqlite3* db, int* version) {
  sqlite3_stmt* read = nullptr;
  int rc = sqlite3_prepare_v2(db, "PRAGMA user_version", -1, &read, nullptr);
  if (rc == SQLITE_OK) {
    rc = sqlite3_step(read);
    if (rc == SQLITE_ROW) {
      *version = sqlite3_column_int(read, 0);
      rc = SQLITE_OK;
    }
  }
  sqlite3_finalize(read);
  return rc;
}

std::string NewerSchema(int version) {
  return "its schema version " + std::to_string(version) + " is newer than this tool's (" +
         std::to_string(RecordStore::kSchemaVersion) + "): use the newer morlane-cli that wrote it";
}

// The database as an SQLite URI that says no one changes it while it is read: a reader
// that may write nothing in the folder cannot make the index of the write-ahead log.
std::string ImmutableUri(const fs::path& database) {
  std::error_code failure;
  fs::path absolute = fs::absolute(database, failure);
  if (failure) absolute = database;
  const std::string path = PathToUtf8(absolute);
  std::string uri = "file:";
  if (path.empty() || (path[0] != '/' && path[0] != '\\')) uri += '/';  // "file:/C:/..."
  for (const unsigned char c : path) {
    if (std::isalnum(c) || std::strchr("/-._~:", c) != nullptr) {
      uri += static_cast<char>(c);
    } else if (c == '\\') {
      uri += '/';
    } else {
      char escaped[4];
      std::snprintf(escaped, sizeof escaped, "%%%02X", c);
      uri += escaped;
    }
  }
  return uri + "?immutable=1";
}

}  // namespace

RecordStore::RecordStore(std::string folder, sqlite3* db) : folder_(std::move(folder)), db_(db) {}

RecordStore::~RecordStore() {
  sqlite3_close_v2(db_);
}

std::unique_ptr<RecordStore> RecordStore::Open(const std::string& folder, Mode mode,
                                               std::string* error) {
  const fs::path root = folder.empty() ? fs::path(".") : PathFromUtf8(folder);
  const fs::path database = root / kDatabaseName;
  std::error_code failure;
  if (mode == Mode::Write) {
    fs::create_directories(root / kRunsFolder, failure);
    if (!fs::is_directory(root / kRunsFolder, failure)) {
      *error = "cannot make the records folder " + PathToUtf8(root / kRunsFolder);
      return nullptr;
    }
    if (!FolderTakesRuns(root, error)) return nullptr;
  } else if (!fs::is_regular_file(database, failure)) {
    *error = "no records in " + PathToUtf8(root) + " (" + kDatabaseName + " not found)";
    return nullptr;
  }
  if (mode == Mode::Read) return OpenForReading(root, database, error);

  sqlite3* db = nullptr;
  const int flags =
      (mode == Mode::Write ? SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE : SQLITE_OPEN_READWRITE) |
      SQLITE_OPEN_FULLMUTEX;
  if (sqlite3_open_v2(PathToUtf8(database).c_str(), &db, flags, nullptr) != SQLITE_OK) {
    *error = Reason(db, "cannot open " + PathToUtf8(database));
    sqlite3_close_v2(db);
    return nullptr;
  }
  std::unique_ptr<RecordStore> store(new RecordStore(PathToUtf8(root), db));
  sqlite3_busy_timeout(db, kBusyTimeoutMs);
  // WAL: a kill or power cut leaves every committed run intact and readers never wait for
  // a writer; synchronous FULL: a commit is on the disk before it returns.
  if (!store->Exec("PRAGMA journal_mode=WAL", error) ||
      !store->Exec("PRAGMA synchronous=FULL", error) ||
      !store->Exec("PRAGMA foreign_keys=ON", error) || !store->Migrate(error)) {
    *error = PathToUtf8(database) + ": " + *error;
    return nullptr;
  }
  return store;
}

std::unique_ptr<RecordStore> RecordStore::OpenForReading(const fs::path& root,
                                                         const fs::path& database,
                                                         std::string* error) {
  const std::string name = PathToUtf8(database);
  auto open = [&](const std::string& path, int extra, int* rc) -> std::unique_ptr<RecordStore> {
    sqlite3* db = nullptr;
    *rc = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY | SQLITE_OPEN_FULLMUTEX | extra,
                          nullptr);
    if (*rc != SQLITE_OK) {
      *error = Reason(db, "cannot open " + name);
      sqlite3_close_v2(db);
      return nullptr;
    }
    sqlite3_busy_timeout(db, kBusyTimeoutMs);
    int version = -1;
    *rc = ReadVersion(db, &version);
    if (*rc != SQLITE_OK) {
      *error = Reason(db, "cannot read " + name);
      sqlite3_close_v2(db);
      return nullptr;
    }
    std::unique_ptr<RecordStore> store(new RecordStore(PathToUtf8(root), db));
    store->packageColumns_ = version >= kPackageSchemaVersion;
    store->stepSecondsColumn_ = version >= kStepSecondsSchemaVersion;
    if (version > kSchemaVersion) {
      *error = name + ": " + NewerSchema(version);
      return nullptr;
    }
    if (version < 1) {
      *error = name + " holds no records (no schema in it)";
      return nullptr;
    }
    return store;
  };
  int rc = SQLITE_OK;
  std::unique_ptr<RecordStore> store = open(name, 0, &rc);
  if (store || ((rc & 0xff) != SQLITE_READONLY && (rc & 0xff) != SQLITE_CANTOPEN)) return store;
  // The log's index cannot be made in a folder this reader may not write. With no log
  // waiting to be folded in, the database file alone holds every run.
  std::error_code failure;
  const fs::path log = PathFromUtf8(name + "-wal");
  if (fs::exists(log, failure) && fs::file_size(log, failure) > 0) {
    *error += " (runs wait in its write-ahead log, which only an account that may write in " +
              PathToUtf8(root) + " can read)";
    return nullptr;
  }
  std::string why = *error;
  store = open(ImmutableUri(database), SQLITE_OPEN_URI, &rc);
  if (!store) *error = why;
  return store;
}

bool RecordStore::Exec(const char* sql, std::string* error) {
  char* message = nullptr;
  if (sqlite3_exec(db_, sql, nullptr, nullptr, &message) == SQLITE_OK) return true;
  *error = message ? message : sqlite3_errmsg(db_);
  sqlite3_free(message);
  return false;
}

bool RecordStore::Migrate(std::string* error) {
  // The version is read again inside the write transaction: two stations starting on a new
  // folder at once migrate it once.
  if (!Exec("BEGIN IMMEDIATE", error)) return false;
  int version = -1;
  if (ReadVersion(db_, &version) != SQLITE_OK) version = -1;
  std::string ignored;
  if (version < 0) {
    *error = Reason(db_, "cannot read the schema version");
    Exec("ROLLBACK", &ignored);
    return false;
  }
  if (version > kSchemaVersion) {
    *error = NewerSchema(version);
    Exec("ROLLBACK", &ignored);
    return false;
  }
  for (int step = version; step < kSchemaVersion; ++step) {
    if (!Exec(kMigrations[step], error)) {
      *error = "cannot bring the schema from version " + std::to_string(step) + ": " + *error;
      Exec("ROLLBACK", &ignored);
      return false;
    }
  }
  const std::string setVersion = "PRAGMA user_version=" + std::to_string(kSchemaVersion);
  if (version != kSchemaVersion && !Exec(setVersion.c_str(), error)) {
    Exec("ROLLBACK", &ignored);
    return false;
  }
  return Exec("COMMIT", error);
}

bool RecordStore::TakesRuns(std::string* error) {
  return FolderTakesRuns(PathFromUtf8(folder_), error);
}

bool RecordStore::Commit(const RunRecord& run, std::string_view log, std::string* error) {
  std::lock_guard lock(mutex_);
  const fs::path runs = PathFromUtf8(folder_) / kRunsFolder;
  if (!WriteFileDurably(PathToUtf8(runs / (run.runId + ".json")), RunRecordJson(run), error) ||
      !WriteFileDurably(PathToUtf8(runs / (run.runId + ".log")), log, error)) {
    return false;
  }
  return InsertRuns({&run, 1}, error);
}

bool RecordStore::ImportRuns(std::span<const RunRecord> runs, std::string* error) {
  std::lock_guard lock(mutex_);
  return InsertRuns(runs, error);
}

bool RecordStore::InsertRuns(std::span<const RunRecord> runs, std::string* error) {
  if (!Exec("BEGIN IMMEDIATE", error)) return false;
  for (const RunRecord& run : runs) {
    if (!InsertRun(run)) {
      *error = Reason(db_, "cannot keep run " + run.runId);
      std::string ignored;
      Exec("ROLLBACK", &ignored);
      return false;
    }
  }
  if (!Exec("COMMIT", error)) {
    std::string ignored;
    Exec("ROLLBACK", &ignored);
    return false;
  }
  return true;
}

bool RecordStore::InsertRun(const RunRecord& run) {
  bool ok = true;
  {
    Statement insert(db_,
                     "INSERT INTO runs (run_id, station, slot, port, port_id, unit_id, operator,"
                     " procedure, tool_version, profile, started, ended, started_ms, ended_ms,"
                     " result, failed_step, package_file, package_sha256, package_model,"
                     " package_release, package_signer, step_seconds)"
                     " VALUES (?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)");
    ok = insert.Ok();
    if (ok) {
      insert.Bind(1, run.runId);
      insert.Bind(2, run.station);
      insert.Bind(3, run.slot);
      insert.Bind(4, run.port);
      insert.Bind(5, run.portId);
      insert.Bind(6, run.unitId);
      insert.Bind(7, run.operatorName);
      insert.Bind(8, run.procedure);
      insert.Bind(9, run.toolVersion);
      insert.Bind(10, run.profile);
      insert.Bind(11, run.started);
      insert.Bind(12, run.ended);
      insert.Bind(13, run.startedMs);
      insert.Bind(14, run.endedMs);
      insert.Bind(15, run.result);
      insert.BindOrNull(16, run.failedStep);
      if (run.package) {
        insert.Bind(17, run.package->file);
        insert.Bind(18, run.package->sha256);
        insert.Bind(19, run.package->model);
        insert.Bind(20, run.package->release);
        insert.Bind(21, run.package->signer);
      }
      insert.Bind(22, StepSecondsText(run.images));
      ok = sqlite3_step(insert.get()) == SQLITE_DONE;
    }
  }
  for (size_t i = 0; ok && i < run.images.size(); ++i) {
    const ImageRecord& image = run.images[i];
    Statement insert(db_,
                     "INSERT INTO images (run_id, position, file, sha256, bytes, cpu, result, step,"
                     " skipped, closing, seconds, frames, retries, naks)"
                     " VALUES (?,?,?,?,?,?,?,?,?,?,?,?,?,?)");
    ok = insert.Ok();
    if (!ok) break;
    insert.Bind(1, run.runId);
    insert.Bind(2, static_cast<int64_t>(i));
    insert.Bind(3, image.file);
    insert.BindOrNull(4, image.sha256);
    if (image.bytes >= 0) insert.Bind(5, image.bytes);
    insert.BindOrNull(6, image.cpu);
    insert.Bind(7, image.result);
    insert.BindOrNull(8, image.step);
    insert.Bind(9, int64_t{image.skipped ? 1 : 0});
    insert.BindOrNull(10, image.closing);
    insert.Bind(11, SecondsText(image.seconds));
    insert.Bind(12, int64_t{image.frames});
    insert.Bind(13, int64_t{image.retries});
    insert.Bind(14, int64_t{image.naks});
    ok = sqlite3_step(insert.get()) == SQLITE_DONE;
  }
  return ok;
}

std::vector<RunRecord> RecordStore::List(const RunFilter& filter, std::string* error) {
  return Query(filter, true, error);
}

std::vector<RunRecord> RecordStore::Summaries(const RunFilter& filter, std::string* error) {
  return Query(filter, false, error);
}

std::vector<RunRecord> RecordStore::Query(const RunFilter& filter, bool withImages,
                                          std::string* error) {
  std::lock_guard lock(mutex_);
  // A store of an older tool, read as it is, has no package columns and took no run from a
  // package.
  if (!packageColumns_ && !filter.release.empty()) return {};
  const FilterSql filterSql = FilterClause(filter, '?');
  const std::string sql =
      std::string("SELECT ") + kRunColumns +
      (packageColumns_ ? kStorePackageColumns : ", NULL, NULL, NULL, NULL, NULL") + " FROM runs" +
      filterSql.clause;
  Statement select(db_, sql.c_str());
  std::vector<RunRecord> runs;
  if (!select.Ok()) {
    *error = Reason(db_, "cannot read the runs");
    return runs;
  }
  select.Bind(filterSql);
  int step;
  while ((step = sqlite3_step(select.get())) == SQLITE_ROW) runs.push_back(RunFromRow(select));
  if (step != SQLITE_DONE) {
    *error = Reason(db_, "cannot read the runs");
    runs.clear();
    return runs;
  }
  if (withImages) {
    for (RunRecord& run : runs) {
      if (!LoadImages(run, error)) {
        runs.clear();
        break;
      }
    }
  }
  return runs;
}

std::vector<YieldRow> RecordStore::YieldRows(const RunFilter& filter, std::string* error) {
  std::lock_guard lock(mutex_);
  // A store of an older tool, read as it is, took no run from a package.
  if (!packageColumns_ && !filter.release.empty()) return {};
  const FilterSql filterSql = FilterClause(filter, '?', false);
  const std::string sql =
      "SELECT substr(started, 1, 13), station, slot, unit_id, result, failed_step, started_ms,"
      " ended_ms, " +
      std::string(stepSecondsColumn_ ? "step_seconds"
                                     : "(SELECT group_concat(seconds, ' ') FROM images"
                                       " WHERE images.run_id = runs.run_id)") +
      " FROM runs" + filterSql.clause;
  Statement select(db_, sql.c_str());
  std::vector<YieldRow> rows;
  if (!select.Ok()) {
    *error = Reason(db_, "cannot read the runs");
    return rows;
  }
  select.Bind(filterSql);
  int step;
  while ((step = sqlite3_step(select.get())) == SQLITE_ROW) {
    const std::string hour = select.Text(0);
    YieldRow& row = rows.emplace_back(YieldRow{hour.substr(0, 10),
                                               hour,
                                               select.Text(1),
                                               select.Text(2),
                                               select.OptionalText(3),
                                               select.Text(4),
                                               select.Text(5),
                                               select.Int(6),
                                               select.Int(7),
                                               {}});
    AddStepSeconds(select.View(8), row);
  }
  if (step != SQLITE_DONE) {
    *error = Reason(db_, "cannot read the runs");
    rows.clear();
  }
  return rows;
}

bool RecordStore::LoadImages(RunRecord& run, std::string* error) {
  const std::string sql =
      std::string("SELECT ") + kImageColumns + " FROM images WHERE run_id = ? ORDER BY position";
  Statement select(db_, sql.c_str());
  if (!select.Ok()) {
    *error = Reason(db_, "cannot read the images");
    return false;
  }
  select.Bind(1, run.runId);
  int step;
  while ((step = sqlite3_step(select.get())) == SQLITE_ROW) {
    run.images.push_back(ImageFromRow(select, SecondsFromText));
  }
  if (step != SQLITE_DONE) {
    *error = Reason(db_, "cannot read the images");
    return false;
  }
  return true;
}

std::optional<RunRecord> RecordStore::Load(const std::string& runId, std::string* error) {
  RunFilter filter;
  filter.runId = runId;
  std::vector<RunRecord> runs = Query(filter, true, error);
  if (runs.empty()) {
    if (error->empty()) *error = "no run " + runId;
    return std::nullopt;
  }
  return std::move(runs.front());
}

std::vector<std::string> RecordStore::UnsentRunIds(std::string* error, bool withSetAside,
                                                   int limit) {
  std::lock_guard lock(mutex_);
  std::vector<std::string> ids;
  const std::string sql = std::string("SELECT run_id FROM runs WHERE pushed = 0") +
                          (withSetAside ? "" : " AND refused IS NULL") +
                          " ORDER BY started_ms, run_id LIMIT ?";
  Statement select(db_, sql.c_str());
  if (!select.Ok()) {
    *error = Reason(db_, "cannot read the runs");
    return ids;
  }
  select.Bind(1, int64_t{limit});
  int step;
  while ((step = sqlite3_step(select.get())) == SQLITE_ROW) ids.push_back(select.Text(0));
  if (step != SQLITE_DONE) {
    *error = Reason(db_, "cannot read the runs");
    ids.clear();
  }
  return ids;
}

bool RecordStore::MarkSent(const std::string& runId, std::string* error) {
  std::lock_guard lock(mutex_);
  Statement update(db_, "UPDATE runs SET pushed = 1, refused = NULL WHERE run_id = ?");
  if (update.Ok()) {
    update.Bind(1, runId);
    if (sqlite3_step(update.get()) == SQLITE_DONE) return true;
  }
  *error = Reason(db_, "cannot mark run " + runId + " as sent");
  return false;
}

bool RecordStore::SetAside(const std::string& runId, const std::string& reason,
                           std::string* error) {
  std::lock_guard lock(mutex_);
  // An empty reason would read as "not set aside".
  const std::string kept = reason.empty() ? "refused" : reason;
  Statement update(db_, "UPDATE runs SET refused = ? WHERE run_id = ? AND pushed = 0");
  if (update.Ok()) {
    update.Bind(1, kept);
    update.Bind(2, runId);
    if (sqlite3_step(update.get()) == SQLITE_DONE) return true;
  }
  *error = Reason(db_, "cannot set run " + runId + " aside");
  return false;
}

std::vector<SetAsideRun> RecordStore::SetAsideRuns(std::string* error) {
  std::lock_guard lock(mutex_);
  std::vector<SetAsideRun> runs;
  Statement select(db_,
                   "SELECT run_id, refused FROM runs WHERE pushed = 0 AND refused IS NOT NULL"
                   " ORDER BY started_ms, run_id");
  if (!select.Ok()) {
    *error = Reason(db_, "cannot read the runs");
    return runs;
  }
  int step;
  while ((step = sqlite3_step(select.get())) == SQLITE_ROW) {
    runs.push_back(SetAsideRun{select.Text(0), select.Text(1)});
  }
  if (step != SQLITE_DONE) {
    *error = Reason(db_, "cannot read the runs");
    runs.clear();
  }
  return runs;
}

std::optional<std::string> RecordStore::LogOf(const std::string& runId) {
  // Run ids are made of letters, digits and "-": anything else could name another file.
  if (runId.empty() ||
      runId.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"
                              "0123456789-") != std::string::npos) {
    return std::nullopt;
  }
  std::string log;
  const fs::path path = PathFromUtf8(folder_) / kRunsFolder / (runId + ".log");
  if (ReadWholeFile(PathToUtf8(path), &log, kMaxLogBytes) != WholeFile::Read) return std::nullopt;
  return log;
}

}  // namespace morlane
