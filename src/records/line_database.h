#pragma once

#include <mutex>
#include <string>

#include "records/record_source.h"
#include "records/record_store.h"

struct pg_conn;

namespace morlane {

// The line's PostgreSQL database, shared by the stations of a line. It is fed only from a
// station's own store, which is its outbox: a run is committed there first, then sent, and
// marked sent once the line's database holds it. A run is stored there once, keyed by its
// run id, however often it is sent; a network that fails loses nothing. `records` reads
// the whole line's runs from it as from a station's store.
class LineDatabase : public RecordSource {
 public:
  // postgresql://... (or any connection string the PostgreSQL client takes). Nothing is
  // connected until the first send.
  explicit LineDatabase(std::string url);
  ~LineDatabase() override;
  LineDatabase(const LineDatabase&) = delete;
  LineDatabase& operator=(const LineDatabase&) = delete;

  // Whether this build can reach a line database at all; Why says what it lacks.
  static bool Supported();
  static std::string WhyUnsupported();

  // Sends every run of the store the line's database does not hold yet, oldest first,
  // each in a transaction of its own; sent counts those stored by this call. False, with
  // the reason, when the server cannot be reached or refuses a run: what was sent stays
  // sent and the rest waits for the next call. Calls are serialised.
  bool SendBacklog(RecordStore& store, int* sent, std::string* error);

  std::vector<RunRecord> List(const RunFilter& filter, std::string* error) override;
  std::vector<RunRecord> Summaries(const RunFilter& filter, std::string* error) override;
  std::vector<YieldRow> YieldRows(const RunFilter& filter, std::string* error) override;
  std::optional<RunRecord> Load(const std::string& runId, std::string* error) override;
  std::optional<std::string> LogOf(const std::string& runId) override;

 private:
  bool Connect(std::string* error);
  bool MakeSchema(std::string* error);
  bool Send(const RunRecord& run, const std::string& log, std::string* error);
  // Connected, with the tables there; false with the reason.
  bool Ready(std::string* error);
  std::vector<RunRecord> Runs(const RunFilter& filter, bool withImages, std::string* error);
  void Disconnect();

  std::string url_;
  pg_conn* connection_ = nullptr;
  bool schemaMade_ = false;
  std::mutex mutex_;
};

}  // namespace morlane
