#include "web/line_run_feed.h"

#include <algorithm>
#include <thread>

namespace morlane::web {

namespace {

// The longest one wait on the connection lasts, so that Interrupt() is heeded soon.
constexpr std::chrono::milliseconds kSlice{250};

}  // namespace

ListeningRunFeed::ListeningRunFeed(RecordSource& source, const std::string& url)
    : polled_(source), listener_(url) {
  polled_.onError = [this](const std::string& error) {
    if (onError) onError(error);
  };
}

void ListeningRunFeed::Interrupt() {
  interrupted_ = true;
}

std::vector<RunRecord> ListeningRunFeed::Next(std::chrono::milliseconds wait) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + wait;
  if (!started_) {
    // Listening before the first poll: a run stored between the two is either known by
    // the poll or told after it, never neither.
    started_ = true;
    LineDatabase::News news;
    std::string error;
    listening_ = listener_.WaitForNews(0, &news, &error);
    if (!listening_) listenAgain_ = Clock::now() + kListenAgain;
  }
  while (!interrupted_) {
    auto now = Clock::now();
    if (now >= nextPoll_) {
      nextPoll_ =
          now + (listening_ ? std::chrono::milliseconds(kCheckPoll) : PolledRunFeed::kInterval);
      std::vector<RunRecord> runs = polled_.Poll();
      if (!runs.empty()) return runs;
      continue;
    }
    if (now >= deadline) break;
    const auto slice = std::min({deadline, nextPoll_, now + kSlice}) - now;
    if (!listening_ && now >= listenAgain_) listening_ = true;
    if (!listening_) {
      std::this_thread::sleep_for(slice);
      continue;
    }
    LineDatabase::News news;
    std::string error;
    const int ms =
        static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(slice).count());
    if (!listener_.WaitForNews(std::max(ms, 1), &news, &error)) {
      // The polls carry on and say what is wrong with the server.
      listening_ = false;
      listenAgain_ = Clock::now() + kListenAgain;
      nextPoll_ = Clock::now();
      continue;
    }
    if (!news.runIds.empty()) {
      std::vector<RunRecord> runs = polled_.Told(news.runIds);
      if (!runs.empty()) return runs;
    }
    if (!news.stations.empty()) break;
  }
  return {};
}

}  // namespace morlane::web
