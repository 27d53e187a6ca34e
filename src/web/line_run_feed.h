#pragma once

#include <atomic>
#include <chrono>
#include <string>
#include <vector>

#include "records/line_database.h"
#include "records/record_source.h"
#include "web/run_feed.h"

namespace morlane::web {

// The runs of the line's database as it stores them. The database tells of each stored run
// (its id) and of each station's new live state over a connection of this feed's own; a
// told run is read at once, however long after its start it reached the line (a station's
// backlog), and news of the slots ends a Next() early so that the server reads them.
// It polls as PolledRunFeed does every kCheckPoll as well, and every second while it cannot
// listen, so that a run stored while the connection was down still comes.
class ListeningRunFeed : public RunFeed {
 public:
  static constexpr std::chrono::seconds kCheckPoll{10};
  // After a failed listen, polls only for this long before trying to listen again.
  static constexpr std::chrono::seconds kListenAgain{5};

  // source: the runs' reader (the server's, under its lock); url: the line's database, for
  // the feed's own connection.
  ListeningRunFeed(RecordSource& source, const std::string& url);

  std::vector<RunRecord> Next(std::chrono::milliseconds wait) override;
  void Interrupt() override;

 private:
  PolledRunFeed polled_;
  LineDatabase listener_;
  std::atomic<bool> interrupted_{false};
  bool started_ = false;
  bool listening_ = false;
  std::chrono::steady_clock::time_point listenAgain_{};
  std::chrono::steady_clock::time_point nextPoll_{};
};

}  // namespace morlane::web
