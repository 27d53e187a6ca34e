#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "sim/answer_queue.h"
#include "sim/sim_unit.h"

namespace morlane::sim {

// Runs the unit's serial side on a pseudo-terminal: the host opens the slave path as
// its serial port; the server reads the master, tells the unit the speed the host set,
// and writes the unit's answers back when they are due.
class PtyServer {
 public:
  explicit PtyServer(SimUnit& unit);
  ~PtyServer();
  PtyServer(const PtyServer&) = delete;
  PtyServer& operator=(const PtyServer&) = delete;

  bool Start(std::string* error);
  void Stop();
  const std::string& SlavePath() const { return slavePath_; }
  // The line goes away, as a pulled cable or adapter: the master is closed.
  void DropLine();
  bool LineDropped() const { return dropped_; }
  // Whether bytes ever arrived while the host's line had software flow control on: such a
  // host would swallow the 0x11 and 0x13 in the bootloader's answers.
  bool SoftwareFlowControlSeen() const { return flowControlSeen_; }

 private:
  void Run();
  int CurrentBaud();
  void FlushDue();

  SimUnit& unit_;
  int master_ = -1;
  int slaveHold_ = -1;
  std::string slavePath_;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> dropRequested_{false};
  std::atomic<bool> dropped_{false};
  std::atomic<bool> flowControlSeen_{false};
  std::mutex pendingMutex_;
  AnswerQueue pending_;
};

}  // namespace morlane::sim
