#pragma once

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "records/line_database.h"
#include "records/record_store.h"

namespace morlane {

// The line's database of a station, fed from its store by a feeder thread of its own:
// woken after every run that was kept, it sends what waits there in batches, so that no
// unit ever waits for the server. A database that cannot be reached is said once through
// say, and again when it is back; a run the server refuses is said and set aside; the runs
// wait in the store and go with the next one. At the end (Finish) what waits is tried once
// more, bounded, and what still waits is said.
class LineFeed {
 public:
  // Null, with why, when the address cannot be read or names no database this build can
  // reach; why never holds the password.
  static std::unique_ptr<LineFeed> Open(const std::string& url, RecordStore& store,
                                        std::string records, std::string* why);
  ~LineFeed();
  LineFeed(const LineFeed&) = delete;
  LineFeed& operator=(const LineFeed&) = delete;

  // From any unit's thread, after its run was kept: wakes the feeder and returns at once.
  void Send();
  // The end of the station, gang or run: the feeder tries what waits once more (for
  // kFinalSeconds at most beyond the attempt under way, each connection and statement
  // bounded) and stops; how many runs still wait is said. A feed that was never woken
  // just stops. Later calls do nothing.
  void Finish();

  // Set before the first Send; called from the feeder's thread.
  std::function<void(const std::string& text)> say;

  // A station's live state, from now on asked for about once a second on the feeder's
  // thread and reported with the store's backlog when it changed, and every
  // kLiveHeartbeatSeconds all the same, so that a station that went silent is seen as
  // gone. At the end its slots are reported "stopped". A report the server did not take
  // is tried again after kLiveRetrySeconds; none is tried while the server cannot be
  // reached at the end. live must stay callable until Finish returned.
  void ReportLive(std::function<LiveStation()> live);

  static constexpr int kLiveRetrySeconds = 10;

  static constexpr int kBatch = 50;
  static constexpr int kFinalSeconds = 30;

 private:
  LineFeed(const std::string& url, RecordStore& store, std::string records);
  void Feed();
  // One pass over the outbox, batch after batch, until it is empty, the server cannot take
  // more or, at the end, the time is up.
  void Pass(bool final);
  void Tell(const std::string& text);
  void Report(LiveStation station, bool final);

  LineDatabase database_;
  RecordStore& store_;
  std::string records_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool pending_ = false;
  bool finishing_ = false;
  bool woken_ = false;
  // The feeder's own: what was said of the server's state, so that it is said once.
  std::string trouble_;
  bool unreachable_ = false;
  std::function<LiveStation()> live_;
  // The feeder's own: what was reported last, and when (steady clock, ms).
  std::vector<LiveSlot> lastSlots_;
  int lastBacklog_ = -1;
  int64_t lastReportMs_ = 0;
  int64_t liveRetryMs_ = 0;
  std::thread feeder_;
};

}  // namespace morlane
