#include "sim/memory_line.h"

#include <algorithm>

#include "platform/monotonic.h"

namespace morlane::sim {

namespace {

// How often the delivery thread looks for due answers when nothing else wakes it.
constexpr int kIdleWaitMs = 5;

}  // namespace

class MemoryLine::HostPort : public SerialPort {
 public:
  explicit HostPort(MemoryLine& line) : line_(line) {}
  ~HostPort() override {
    std::lock_guard lock(line_.mutex_);
    line_.hostOpen_ = false;
  }

  bool SetLine(int baud) override {
    std::lock_guard lock(line_.mutex_);
    if (line_.dropped_ || baud <= 0) return false;
    line_.baud_ = baud;
    return true;
  }

  int QueuedBytes() override {
    std::lock_guard lock(line_.mutex_);
    if (line_.dropped_) return -1;
    return static_cast<int>(std::min<size_t>(line_.toHost_.size(), INT32_MAX));
  }

  int Read(uint8_t* buffer, int n) override {
    std::lock_guard lock(line_.mutex_);
    if (line_.dropped_) return -1;
    int count = std::min(n, static_cast<int>(std::min<size_t>(line_.toHost_.size(), INT32_MAX)));
    for (int i = 0; i < count; ++i) {
      buffer[i] = line_.toHost_.front();
      line_.toHost_.pop_front();
    }
    return std::max(count, 0);
  }

  int Write(const uint8_t* data, int n, int) override {
    std::lock_guard lock(line_.mutex_);
    if (line_.dropped_) return -1;
    if (n <= 0) return 0;
    line_.fromHost_.push_back(Written{std::vector<uint8_t>(data, data + n), line_.baud_});
    line_.changed_.notify_all();
    return n;
  }

  bool WaitReadable(int timeoutMs) override {
    std::unique_lock lock(line_.mutex_);
    line_.changed_.wait_for(lock, std::chrono::milliseconds(std::max(timeoutMs, 0)),
                            [this] { return line_.dropped_ || !line_.toHost_.empty(); });
    return !line_.dropped_ && !line_.toHost_.empty();
  }

 private:
  MemoryLine& line_;
};

MemoryLine::MemoryLine(SimUnit& unit) : unit_(unit) {
  unit_.dropLine = [this] { DropLine(); };
}

MemoryLine::~MemoryLine() {
  Stop();
  unit_.dropLine = nullptr;
}

bool MemoryLine::Start(std::string*) {
  std::lock_guard lock(mutex_);
  if (thread_.joinable()) return true;
  stop_ = false;
  thread_ = std::thread([this] { Run(); });
  return true;
}

void MemoryLine::Stop() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  changed_.notify_all();
  if (thread_.joinable()) thread_.join();
}

// Called from inside the unit's handling of the host's bytes, so it only marks the line;
// the host sees it at its next call.
void MemoryLine::DropLine() {
  dropped_ = true;
  changed_.notify_all();
}

std::unique_ptr<SerialPort> MemoryLine::OpenHostPort(PortOpenError* error) {
  std::lock_guard lock(mutex_);
  PortOpenError result = PortOpenError::None;
  if (dropped_) {
    result = PortOpenError::NotFound;
  } else if (hostOpen_) {
    result = PortOpenError::Busy;
  }
  if (error) *error = result;
  if (result != PortOpenError::None) return nullptr;
  hostOpen_ = true;
  // A freshly opened port starts without stale input, as a real one is purged.
  toHost_.clear();
  return std::make_unique<HostPort>(*this);
}

void MemoryLine::Run() {
  SerialEmit emit = [this](SerialAnswer answer) {
    std::lock_guard lock(mutex_);
    pending_.Push(std::move(answer), MonotonicMs());
  };
  std::unique_lock lock(mutex_);
  while (!stop_) {
    while (!fromHost_.empty() && !dropped_) {
      Written written = std::move(fromHost_.front());
      fromHost_.pop_front();
      // The unit answers through emit, which takes the lock itself.
      lock.unlock();
      unit_.OnSerialBytes(written.bytes.data(), written.bytes.size(), written.baud, emit);
      lock.lock();
    }
    int64_t now = MonotonicMs();
    bool delivered = false;
    pending_.TakeDue(now, [this, &delivered](const std::vector<uint8_t>& bytes) {
      // With no host on the line the answer is lost, as on a wire.
      if (hostOpen_ && !dropped_) {
        toHost_.insert(toHost_.end(), bytes.begin(), bytes.end());
        delivered = true;
      }
    });
    if (delivered) changed_.notify_all();
    int waitMs = kIdleWaitMs;
    if (!pending_.Empty()) {
      waitMs = static_cast<int>(std::clamp<int64_t>(pending_.NextDueMs() - now, 0, kIdleWaitMs));
    }
    changed_.wait_for(lock, std::chrono::milliseconds(waitMs),
                      [this] { return stop_ || (!fromHost_.empty() && !dropped_); });
  }
}

std::unique_ptr<SerialPort> SimulatedPortFactory::Open(int comNumber, PortOpenError* error) {
  if (comNumber == 1) return line_.OpenHostPort(error);
  if (comNumber > 1 && others_) return others_->Open(comNumber - 1, error);
  if (error) *error = PortOpenError::NotFound;
  return nullptr;
}

std::string SimulatedPortFactory::PathOf(int comNumber) const {
  if (comNumber == 1) return kUnitPath;
  if (comNumber > 1 && others_) return others_->PathOf(comNumber - 1);
  return {};
}

}  // namespace morlane::sim
