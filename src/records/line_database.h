#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "records/live_state.h"
#include "records/record_source.h"
#include "records/record_store.h"

struct pg_conn;
struct pg_result;

namespace morlane {

// What one pass over the station's outbox did.
struct Delivery {
  int sent = 0;  // runs the line's database holds now that it did not before
  // Runs the server refused (it answered with an error about the run itself), set aside in
  // the outbox with its reason by this pass; they never hold back the runs after them.
  std::vector<SetAsideRun> refused;
  // The server could not be reached (no connection, or it broke): the rest waits.
  bool unreachable = false;
  // Why the rest of the outbox waits; empty when every run taken was sent or set aside.
  std::string error;
  // Runs beyond this pass's batch still wait.
  bool more = false;
};

// The line's PostgreSQL database, shared by the stations of a line. It is fed only from a
// station's own store, which is its outbox: a run is committed there first, then sent, and
// marked sent once the line's database holds it. A run is stored there once, keyed by its
// run id, however often it is sent; a network that fails loses nothing. `records` reads
// the whole line's runs from it as from a station's store; a reader needs SELECT only and
// never makes the tables, which only a writer (a station sending its runs) does.
class LineDatabase : public RecordSource {
 public:
  // postgresql://..., postgres://... or key=value settings, which CheckAddress took.
  // Nothing is connected until the first call that needs the server.
  explicit LineDatabase(std::string url);
  ~LineDatabase() override;
  LineDatabase(const LineDatabase&) = delete;
  LineDatabase& operator=(const LineDatabase&) = delete;

  // Whether this build can reach a line database at all; Why says what it lacks.
  static bool Supported();
  static std::string WhyUnsupported();

  // Whether url can be read as the line database's address; false with what is wrong in
  // *why, which shows the address with its password masked ("postgresql://u:***@h/db").
  static bool CheckAddress(const std::string& url, std::string* why);

  // The address as messages name it: user, host, port and database, never the password
  // ("postgresql://morlane@line-db:5432/records").
  const std::string& Where() const { return where_; }

  // Sends at most batch runs of the store's outbox (every one when batch < 0), oldest
  // first, each in a transaction of its own. With retrySetAside the runs set aside before
  // are tried again among them. Calls are serialised.
  Delivery SendBacklog(RecordStore& store, int batch = -1, bool retrySetAside = false);

  // Whether a station could keep its runs here now: the server answers, the tables are
  // there (made when missing, as a writer makes them) and this account may add runs to
  // them. False says why.
  bool CheckWritable(std::string* error);

  // A station's live state in place of what it reported before (its slots, its backlog),
  // and the line's listeners told at once (NOTIFY morlane_live). A database whose tables
  // predate live states, or an account that may not write them, answers false with why.
  bool ReportLive(const LiveStation& station, std::string* error);
  // Every station's last report, newest state of each slot, by station and slot.
  std::vector<LiveStation> ReadLive(std::string* error);

  // The news a listener waits for: runs stored (NOTIFY morlane_run, with the run id) and
  // live states reported (NOTIFY morlane_live, with the station).
  struct News {
    std::vector<std::string> runIds;
    std::vector<std::string> stations;
    bool Empty() const { return runIds.empty() && stations.empty(); }
  };
  // Waits up to ms for news, listening from the first call on (a connection of this
  // object's own: give a listener a LineDatabase of its own). False with why when the
  // server cannot be reached; the next call connects anew.
  bool WaitForNews(int ms, News* news, std::string* error);

  std::vector<RunRecord> List(const RunFilter& filter, std::string* error) override;
  std::vector<RunRecord> Summaries(const RunFilter& filter, std::string* error) override;
  std::vector<YieldRow> YieldRows(const RunFilter& filter, std::string* error) override;
  std::optional<RunRecord> Load(const std::string& runId, std::string* error) override;
  std::optional<std::string> LogOf(const std::string& runId) override;

 private:
  enum class Sent { Stored, Refused, Waits };
  bool Connect(std::string* error);
  bool MakeSchema(std::string* error);
  Sent Send(const RunRecord& run, const std::string& log, std::string* reason);
  std::vector<RunRecord> Runs(const RunFilter& filter, bool withImages, std::string* error);
  std::string Unreachable(const std::string& why) const;
  // head, then FROM morlane.runs as filter takes them, then after; each row of the answer
  // given to take; false with the reason in error. Tables not made yet hold no run.
  bool SelectRuns(const std::string& head, const std::string& after, const RunFilter& filter,
                  bool ordered, const std::function<void(pg_result*, int)>& take,
                  std::string* error);
  void Disconnect();
  // A client's or server's words with every trace of the password taken out.
  std::string Scrubbed(std::string text) const;

  std::string url_;
  std::string where_;
  std::vector<std::string> secrets_;  // the password as written and as read
  pg_conn* connection_ = nullptr;
  bool schemaMade_ = false;
  bool stepSecondsColumn_ = false;  // the runs' table has it: the runs are sent with it
  bool listening_ = false;
  std::mutex mutex_;
};

}  // namespace morlane
