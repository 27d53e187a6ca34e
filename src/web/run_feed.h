#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "records/record_source.h"
#include "records/run_record.h"

namespace morlane::web {

// Runs as they are kept, for the page's live view. The dashboard asks one feed for all its
// pages; a feed that the line's database tells of new runs (LISTEN) can stand in for the
// polling one below without the server noticing.
class RunFeed {
 public:
  virtual ~RunFeed() = default;
  // The runs kept since the last call, whole (with their images), each once; waits at
  // most `wait` when there are none yet.
  virtual std::vector<RunRecord> Next(std::chrono::milliseconds wait) = 0;
  // Ends a Next() under way, and every later one, at once: the server is stopping.
  virtual void Interrupt() = 0;

  // Told why new runs cannot be read now, and "" once they can again; from Next()'s
  // thread.
  std::function<void(const std::string&)> onError;
};

// Asks the source every second for the runs that started in the last kLookback, and hands
// out those it had not seen. What the source held when the feed began is never handed out:
// the page reads it through the API. A run kept more than kLookback after its start (sent
// to the line's database from a station's backlog much later) is not handed out; the page
// finds it when it reads the runs again.
class PolledRunFeed : public RunFeed {
 public:
  static constexpr std::chrono::milliseconds kInterval{1000};
  static constexpr std::chrono::minutes kLookback{30};
  // The most runs one poll reads: a line that keeps more within kLookback loses the oldest
  // of them from the live view, never the newest.
  static constexpr int kPollLimit = 2000;

  // now: the calendar time in milliseconds since the epoch (the system's clock; tests may
  // hand one of their own).
  explicit PolledRunFeed(RecordSource& source, std::function<int64_t()> now = {});

  std::vector<RunRecord> Next(std::chrono::milliseconds wait) override;
  void Interrupt() override;

  // One poll now, outside Next()'s pace: the runs not handed out yet (the first poll
  // hands out none: it learns what was there).
  std::vector<RunRecord> Poll();
  // The runs among these ids not handed out yet, read whole, whenever they started (a
  // station's backlog reaching the line hours late): ids told by the line's database.
  // None before the first poll.
  std::vector<RunRecord> Told(const std::vector<std::string>& runIds);

 private:
  // The run read whole (with its images) into fresh and marked handed out; nothing when it
  // cannot be read now (error says why, when the source could not answer).
  void TakeWhole(const std::string& runId, std::vector<RunRecord>* fresh, std::string* error);

  RecordSource& source_;
  std::function<int64_t()> now_;
  std::chrono::steady_clock::time_point nextPoll_{};
  bool baseline_ = false;                          // the runs there at the start are known
  std::unordered_map<std::string, int64_t> seen_;  // run id, its start
  std::string lastError_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool interrupted_ = false;
};

}  // namespace morlane::web
