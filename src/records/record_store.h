#pragma once

#include <cstdint>
#include <filesystem>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "records/record_report.h"
#include "records/record_source.h"
#include "records/run_record.h"

struct sqlite3;
struct sqlite3_stmt;

namespace morlane {

// A run of the outbox the line's database refused, and the server's reason.
struct SetAsideRun {
  std::string runId;
  std::string reason;
};

// The station's record store in one folder: records.db (SQLite) and, for every run,
// runs/RUN_ID.json and runs/RUN_ID.log. Several processes may share the folder: SQLite
// serialises their writes, and every run has files of its own. One object may be used
// from several threads; its calls are serialised.
class RecordStore : public RecordSource {
 public:
  enum class Mode {
    // The folder and the database are made when missing; the folder must take files and
    // have room, which is checked before the store is handed out.
    Write,
    // An existing store, for reading only: nothing in the folder is written, so a folder
    // and files that are read-only serve. The schema is read as it is: a store of an older
    // version is not migrated (every version so far holds the runs and images the same
    // way), a newer one or one that holds no schema yet is refused.
    Read,
    // An existing store whose outbox is worked on (`records push`): migrated as by a
    // writer, but never made.
    Update,
  };

  // The schema version this tool writes; a writer brings an older database up to it, a
  // newer one is refused.
  static constexpr int kSchemaVersion = 4;

  // nullptr with the reason in *error when the store cannot be used.
  static std::unique_ptr<RecordStore> Open(const std::string& folder, Mode mode,
                                           std::string* error);
  ~RecordStore() override;
  RecordStore(const RecordStore&) = delete;
  RecordStore& operator=(const RecordStore&) = delete;

  // Whether a run could be kept now: the folder takes files and the disk has room for
  // thousands of runs (a station asks before every unit). False says why.
  bool TakesRuns(std::string* error);
  // Keeps one run: its files are written (each by rename), then the run is committed in
  // one transaction. Only a true return means the run is kept; false says why.
  bool Commit(const RunRecord& run, std::string_view log, std::string* error);
  // Keeps runs brought from elsewhere (a synthetic shift for a benchmark) in one
  // transaction, without files of their own.
  bool ImportRuns(std::span<const RunRecord> runs, std::string* error);

  std::vector<RunRecord> List(const RunFilter& filter, std::string* error) override;
  std::vector<RunRecord> Summaries(const RunFilter& filter, std::string* error) override;
  std::vector<YieldRow> YieldRows(const RunFilter& filter, std::string* error) override;
  std::optional<RunRecord> Load(const std::string& runId, std::string* error) override;
  // As kept in runs/.
  std::optional<std::string> LogOf(const std::string& runId) override;

  // The outbox of the line's database: runs not yet sent there, oldest first (at most
  // limit of them when limit >= 0), those set aside only withSetAside; and the marks that
  // one has been stored there, or that the server refused it with its reason.
  std::vector<std::string> UnsentRunIds(std::string* error, bool withSetAside = false,
                                        int limit = -1);
  bool MarkSent(const std::string& runId, std::string* error);
  bool SetAside(const std::string& runId, const std::string& reason, std::string* error);
  // The runs set aside now, oldest first.
  std::vector<SetAsideRun> SetAsideRuns(std::string* error);

 private:
  RecordStore(std::string folder, sqlite3* db);
  static std::unique_ptr<RecordStore> OpenForReading(const std::filesystem::path& root,
                                                     const std::filesystem::path& database,
                                                     std::string* error);
  bool Migrate(std::string* error);
  bool Exec(const char* sql, std::string* error);
  bool InsertRuns(std::span<const RunRecord> runs, std::string* error);
  bool InsertRun(const RunRecord& run);
  std::vector<RunRecord> Query(const RunFilter& filter, bool withImages, std::string* error);
  bool LoadImages(RunRecord& run, std::string* error);

  // The version whose runs carry the service package they took their images from.
  static constexpr int kPackageSchemaVersion = 3;
  std::string folder_;
  sqlite3* db_;
  bool packageColumns_ = true;  // false for an older store read without migrating it
  static constexpr int kStepSecondsSchemaVersion = 4;
  bool stepSecondsColumn_ = true;  // likewise
  std::mutex mutex_;
};

}  // namespace morlane
