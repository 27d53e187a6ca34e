#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/serial_port.h"
#include "sim/answer_queue.h"
#include "sim/sim_unit.h"

namespace morlane::sim {

// The unit's serial side joined to the host in memory, where the system has no
// pseudo-terminals. It behaves as the pseudo-terminal line does: the host's writes are
// handed to the unit at the speed the host set, the unit's answers reach the host when
// they are due, one host holds the port at a time, and a dropped line fails the host's
// calls as a pulled adapter does.
class MemoryLine {
 public:
  explicit MemoryLine(SimUnit& unit);
  ~MemoryLine();
  MemoryLine(const MemoryLine&) = delete;
  MemoryLine& operator=(const MemoryLine&) = delete;

  bool Start(std::string* error);
  void Stop();
  void DropLine();
  bool LineDropped() const { return dropped_; }
  // The host's end of the line; Busy while another host holds it, NotFound once dropped.
  std::unique_ptr<SerialPort> OpenHostPort(PortOpenError* error);

 private:
  class HostPort;
  struct Written {
    std::vector<uint8_t> bytes;
    int baud;
  };
  void Run();

  SimUnit& unit_;
  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable changed_;
  bool stop_ = false;
  bool hostOpen_ = false;
  int baud_ = 0;
  std::deque<Written> fromHost_;
  AnswerQueue pending_;
  std::deque<uint8_t> toHost_;
  std::atomic<bool> dropped_{false};
};

// COM1 is the unit's line; COM n for n > 1 is entry n - 1 of the other ports.
class SimulatedPortFactory : public SerialPortFactory {
 public:
  SimulatedPortFactory(MemoryLine& line, std::unique_ptr<SerialPortFactory> others)
      : line_(line), others_(std::move(others)) {}
  std::unique_ptr<SerialPort> Open(int comNumber, PortOpenError* error) override;
  std::string PathOf(int comNumber) const override;

  static constexpr const char* kUnitPath = "simulated unit";

 private:
  MemoryLine& line_;
  std::unique_ptr<SerialPortFactory> others_;
};

}  // namespace morlane::sim
