#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <vector>

#include "platform/clock.h"
#include "platform/serial_port.h"

namespace morlane::test {

// The unit's end of an in-memory serial line. What the host writes is recorded and
// handed to the peer, which answers by queueing bytes for the host to read.
class MemoryLine {
 public:
  using Peer = std::function<void(const std::vector<uint8_t>& written, int baud, MemoryLine& line)>;

  explicit MemoryLine(Clock& clock) : clock_(clock) {}

  void SetPeer(Peer peer) { peer_ = std::move(peer); }
  void Queue(const std::vector<uint8_t>& bytes) {
    if (lateMs_ > 0) {
      held_.emplace_back(clock_.MonotonicMs() + lateMs_, bytes);
    } else {
      rx_.insert(rx_.end(), bytes.begin(), bytes.end());
    }
  }
  // Answers reach the host ms after they were queued, as a busy host's kernel hands them
  // over; 0: at once.
  void AnswerLate(int ms) { lateMs_ = ms; }
  void ReleaseDue();
  // Every write call the host made, one entry per call.
  const std::vector<std::vector<uint8_t>>& Writes() const { return writes_; }
  std::vector<uint8_t> AllWritten() const;
  void ClearWrites() { writes_.clear(); }
  size_t QueuedForHost() const { return rx_.size(); }
  int Baud() const { return baud_; }
  int Opens() const { return opens_; }
  // The device fails as a pulled adapter does.
  void Fail() { failed_ = true; }
  // Ports that refuse to open: COM n busy.
  void SetBusy(bool busy) { busy_ = busy; }

  // Host side, used by MemorySerialPort.
  bool failed_ = false;
  bool busy_ = false;
  int baud_ = 0;
  int opens_ = 0;
  std::deque<uint8_t> rx_;
  int lateMs_ = 0;
  std::deque<std::pair<int64_t, std::vector<uint8_t>>> held_;
  std::vector<std::vector<uint8_t>> writes_;
  Peer peer_;
  Clock& clock_;
};

class MemorySerialPort : public SerialPort {
 public:
  explicit MemorySerialPort(MemoryLine& line) : line_(line) {}
  bool SetLine(int baud) override;
  int QueuedBytes() override;
  int Read(uint8_t* buffer, int n) override;
  int Write(const uint8_t* data, int n, int timeoutMs) override;
  bool WaitReadable(int timeoutMs) override;

 private:
  MemoryLine& line_;
};

// COM n is line n of the map; a missing number does not exist.
class MemoryPortFactory : public SerialPortFactory {
 public:
  void Add(int comNumber, MemoryLine* line) { lines_[comNumber] = line; }
  std::unique_ptr<SerialPort> Open(int comNumber, PortOpenError* error) override;
  std::string PathOf(int comNumber) const override;

 private:
  std::map<int, MemoryLine*> lines_;
};

}  // namespace morlane::test
