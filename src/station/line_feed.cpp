#include "station/line_feed.h"

#include <chrono>

#include "platform/monotonic.h"

namespace morlane {

namespace {

std::string Runs(size_t count) {
  return std::to_string(count) + (count == 1 ? " run" : " runs");
}

}  // namespace

std::unique_ptr<LineFeed> LineFeed::Open(const std::string& url, RecordStore& store,
                                         std::string records, std::string* why) {
  if (!LineDatabase::Supported()) {
    *why = LineDatabase::WhyUnsupported();
    return nullptr;
  }
  if (!LineDatabase::CheckAddress(url, why)) return nullptr;
  return std::unique_ptr<LineFeed>(new LineFeed(url, store, std::move(records)));
}

LineFeed::LineFeed(const std::string& url, RecordStore& store, std::string records)
    : database_(url), store_(store), records_(std::move(records)) {
  feeder_ = std::thread([this] { Feed(); });
}

LineFeed::~LineFeed() {
  Finish();
}

void LineFeed::Send() {
  std::lock_guard lock(mutex_);
  pending_ = true;
  woken_ = true;
  wake_.notify_one();
}

void LineFeed::Finish() {
  {
    std::lock_guard lock(mutex_);
    if (finishing_) return;
    finishing_ = true;
    wake_.notify_one();
  }
  feeder_.join();
}

void LineFeed::ReportLive(std::function<LiveStation()> live) {
  std::lock_guard lock(mutex_);
  live_ = std::move(live);
  wake_.notify_one();
}

void LineFeed::Feed() {
  std::unique_lock lock(mutex_);
  for (;;) {
    const auto ready = [this] { return pending_ || finishing_; };
    if (live_) {
      wake_.wait_for(lock, std::chrono::seconds(1), ready);
    } else {
      wake_.wait(lock, [&] { return ready() || live_; });
    }
    const bool final = finishing_;
    // A feed that never had a run to send (its station never started) sends nothing.
    const bool send = pending_ || (final && woken_);
    pending_ = false;
    const std::function<LiveStation()> live = live_;
    lock.unlock();
    if (send) Pass(final);
    if (live) Report(live(), final);
    lock.lock();
    if (final && !woken_) return;
    if (final) break;
  }
  lock.unlock();
  std::string error;
  const size_t waiting = store_.UnsentRunIds(&error).size();
  const size_t setAside = store_.SetAsideRuns(&error).size();
  if (waiting > 0) {
    Tell(Runs(waiting) + (waiting == 1 ? " waits" : " wait") + " in " + records_ +
         " for the line database; `morlane-cli records push` sends them");
  }
  if (setAside > 0) {
    Tell(Runs(setAside) + " the line database refused " + (setAside == 1 ? "is" : "are") +
         " set aside in " + records_ +
         "; `morlane-cli records push` names them with the reasons and tries again");
  }
}

void LineFeed::Pass(bool final) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(kFinalSeconds);
  for (;;) {
    Delivery delivery = database_.SendBacklog(store_, kBatch);
    for (const SetAsideRun& run : delivery.refused) {
      Tell("the line database " + database_.Where() + " refused run " + run.runId + " (" +
           run.reason + "); it is set aside in " + records_ + ", and the runs after it go on");
    }
    if (!delivery.error.empty()) {
      // Said once while it lasts: a station keeps working whatever the server does.
      const std::string trouble = delivery.unreachable ? "unreachable" : "not taken";
      if (trouble != trouble_) {
        trouble_ = trouble;
        unreachable_ = delivery.unreachable;
        if (delivery.unreachable) {
          Tell("the line database cannot be reached at " + database_.Where() + " (" +
               delivery.error + "); runs are kept in " + records_ + " and sent later");
        } else {
          Tell("the line database " + database_.Where() + " does not take runs now (" +
               delivery.error + "); they are kept in " + records_ + " and sent later");
        }
      }
      return;
    }
    if (!trouble_.empty() && (delivery.sent > 0 || !delivery.refused.empty())) {
      if (unreachable_) {
        Tell("the line database " + database_.Where() + " is back; the runs that waited go");
      }
      trouble_.clear();
      unreachable_ = false;
    }
    if (!delivery.more) return;
    if (final && std::chrono::steady_clock::now() >= deadline) return;
    if (!final) {
      // The end is asked for: its own pass, bounded, takes the rest.
      std::lock_guard lock(mutex_);
      if (finishing_) return;
    }
  }
}

void LineFeed::Report(LiveStation station, bool final) {
  const int64_t now = MonotonicMs();
  // A server that just failed is left alone for a while; at the end, a server that cannot
  // be reached is not waited for again.
  if (now < liveRetryMs_ || (final && unreachable_)) return;
  if (final) {
    for (LiveSlot& slot : station.slots) {
      slot = LiveSlot{slot.slot, "stopped",        std::nullopt,      "",
                      0,         station.reported, slot.operatorName, slot.images};
    }
  }
  std::string error;
  station.backlog = static_cast<int>(store_.UnsentRunIds(&error).size());
  if (!final && station.slots == lastSlots_ && station.backlog == lastBacklog_ &&
      now - lastReportMs_ < kLiveHeartbeatSeconds * 1000) {
    return;
  }
  if (!database_.ReportLive(station, &error)) {
    // Said nowhere: the runs' own feed says when the server cannot be reached, and a
    // database whose account may not report live states still takes the runs.
    liveRetryMs_ = now + kLiveRetrySeconds * 1000;
    return;
  }
  lastSlots_ = std::move(station.slots);
  lastBacklog_ = station.backlog;
  lastReportMs_ = now;
}

void LineFeed::Tell(const std::string& text) {
  if (say) say(text);
}

}  // namespace morlane
