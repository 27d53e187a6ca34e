#include "web/run_feed.h"

#include <algorithm>

namespace morlane::web {

namespace {

int64_t SystemNowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

void InEndOrder(std::vector<RunRecord>& runs) {
  std::sort(runs.begin(), runs.end(), [](const RunRecord& a, const RunRecord& b) {
    return a.endedMs != b.endedMs ? a.endedMs < b.endedMs : a.runId < b.runId;
  });
}

}  // namespace

PolledRunFeed::PolledRunFeed(RecordSource& source, std::function<int64_t()> now)
    : source_(source), now_(now ? std::move(now) : SystemNowMs) {}

void PolledRunFeed::Interrupt() {
  {
    std::lock_guard lock(mutex_);
    interrupted_ = true;
  }
  wake_.notify_all();
}

// One caller at a time (the server's feed thread): the polls themselves run outside the
// lock, which only guards the waiting.
std::vector<RunRecord> PolledRunFeed::Next(std::chrono::milliseconds wait) {
  const auto deadline = std::chrono::steady_clock::now() + wait;
  std::unique_lock lock(mutex_);
  while (!interrupted_) {
    const auto now = std::chrono::steady_clock::now();
    if (now >= nextPoll_) {
      nextPoll_ = now + kInterval;
      lock.unlock();
      std::vector<RunRecord> runs = Poll();
      lock.lock();
      if (!runs.empty()) return runs;
      continue;
    }
    if (now >= deadline) break;
    wake_.wait_until(lock, std::min(deadline, nextPoll_));
  }
  return {};
}

std::vector<RunRecord> PolledRunFeed::Poll() {
  const int64_t since =
      now_() - std::chrono::duration_cast<std::chrono::milliseconds>(kLookback).count();
  RunFilter window;
  window.sinceMs = since;
  window.limit = kPollLimit;
  std::string error;
  const std::vector<RunRecord> summaries = source_.Summaries(window, &error);
  std::vector<RunRecord> fresh;
  for (const RunRecord& summary : summaries) {
    if (!error.empty()) break;
    if (seen_.count(summary.runId)) continue;
    if (!baseline_) {
      seen_.emplace(summary.runId, summary.startedMs);
      continue;
    }
    // One that cannot be read now is tried again at the next poll.
    TakeWhole(summary.runId, &fresh, &error);
  }
  if (error != lastError_) {
    lastError_ = error;
    if (onError) onError(error);
  }
  if (!error.empty() && !baseline_) return {};
  baseline_ = true;
  // A run that started before the window never comes back into it.
  std::erase_if(seen_, [since](const auto& entry) { return entry.second < since; });
  InEndOrder(fresh);
  return fresh;
}

void PolledRunFeed::TakeWhole(const std::string& runId, std::vector<RunRecord>* fresh,
                              std::string* error) {
  RunFilter one;
  one.runId = runId;
  std::vector<RunRecord> whole = source_.List(one, error);
  if (!error->empty() || whole.empty()) return;
  seen_.emplace(runId, whole.front().startedMs);
  fresh->push_back(std::move(whole.front()));
}

std::vector<RunRecord> PolledRunFeed::Told(const std::vector<std::string>& runIds) {
  std::vector<RunRecord> fresh;
  if (!baseline_) return fresh;
  for (const std::string& runId : runIds) {
    // One that cannot be read now is left to the polls.
    std::string error;
    if (!seen_.count(runId)) TakeWhole(runId, &fresh, &error);
  }
  InEndOrder(fresh);
  return fresh;
}

}  // namespace morlane::web
