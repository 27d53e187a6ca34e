#include "support/memory_serial.h"

#include <algorithm>

namespace morlane::test {

std::vector<uint8_t> MemoryLine::AllWritten() const {
  std::vector<uint8_t> all;
  for (const auto& w : writes_) all.insert(all.end(), w.begin(), w.end());
  return all;
}

bool MemorySerialPort::SetLine(int baud) {
  if (line_.failed_) return false;
  line_.baud_ = baud;
  return true;
}

void MemoryLine::ReleaseDue() {
  while (!held_.empty() && held_.front().first <= clock_.MonotonicMs()) {
    rx_.insert(rx_.end(), held_.front().second.begin(), held_.front().second.end());
    held_.pop_front();
  }
}

int MemorySerialPort::QueuedBytes() {
  if (line_.failed_) return -1;
  line_.ReleaseDue();
  return static_cast<int>(line_.rx_.size());
}

int MemorySerialPort::Read(uint8_t* buffer, int n) {
  if (line_.failed_) return -1;
  line_.ReleaseDue();
  int count = std::min(n, static_cast<int>(line_.rx_.size()));
  for (int i = 0; i < count; ++i) {
    buffer[i] = line_.rx_.front();
    line_.rx_.pop_front();
  }
  return count;
}

int MemorySerialPort::Write(const uint8_t* data, int n, int) {
  if (line_.failed_) return -1;
  std::vector<uint8_t> written(data, data + n);
  line_.writes_.push_back(written);
  if (line_.peer_) line_.peer_(written, line_.baud_, line_);
  return n;
}

bool MemorySerialPort::WaitReadable(int timeoutMs) {
  if (!line_.rx_.empty() && !line_.failed_) return true;
  line_.clock_.SleepMs(timeoutMs);
  return !line_.rx_.empty() && !line_.failed_;
}

std::unique_ptr<SerialPort> MemoryPortFactory::Open(int comNumber, PortOpenError* error) {
  auto it = lines_.find(comNumber);
  if (it == lines_.end()) {
    if (error) *error = PortOpenError::NotFound;
    return nullptr;
  }
  if (it->second->busy_) {
    if (error) *error = PortOpenError::Busy;
    return nullptr;
  }
  ++it->second->opens_;
  return std::make_unique<MemorySerialPort>(*it->second);
}

std::string MemoryPortFactory::PathOf(int comNumber) const {
  return lines_.count(comNumber) ? "mem:" + std::to_string(comNumber) : std::string();
}

}  // namespace morlane::test
