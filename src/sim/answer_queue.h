#pragma once

#include <cstdint>
#include <deque>
#include <utility>
#include <vector>

#include "sim/sim_unit.h"

namespace morlane::sim {

// The unit's answers on their way to the host, each due after its delay. Answers keep
// their order even when a later one has a shorter delay, as they would on one wire. The
// line driver that owns it guards it.
class AnswerQueue {
 public:
  void Push(SerialAnswer answer, int64_t nowMs) {
    int64_t due = nowMs + answer.delayMs;
    if (!pending_.empty() && pending_.back().dueMs > due) due = pending_.back().dueMs;
    pending_.push_back(Pending{due, std::move(answer.bytes)});
  }

  // Hands every answer due by nowMs to deliver, in order.
  template <typename Deliver>
  void TakeDue(int64_t nowMs, Deliver deliver) {
    while (!pending_.empty() && pending_.front().dueMs <= nowMs) {
      deliver(pending_.front().bytes);
      pending_.pop_front();
    }
  }

  bool Empty() const { return pending_.empty(); }
  int64_t NextDueMs() const { return pending_.front().dueMs; }

 private:
  struct Pending {
    int64_t dueMs;
    std::vector<uint8_t> bytes;
  };
  std::deque<Pending> pending_;
};

}  // namespace morlane::sim
