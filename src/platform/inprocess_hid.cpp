#include "platform/inprocess_hid.h"

#include <algorithm>
#include <cstring>

namespace morlane {

namespace {

class InProcessHidHandle : public HidDevice {
 public:
  explicit InProcessHidHandle(std::shared_ptr<InProcessHidDevice> device)
      : device_(std::move(device)) {}
  HidCaps Caps() const override { return device_->Caps(); }
  int Write(const uint8_t* report, int length, int timeoutMs) override {
    return device_->HostWrite(report, length, timeoutMs);
  }
  int Read(uint8_t* report, int length, int timeoutMs) override {
    return device_->HostRead(report, length, timeoutMs);
  }

 private:
  std::shared_ptr<InProcessHidDevice> device_;
};

}  // namespace

InProcessHidDevice::InProcessHidDevice(HidDeviceInfo info, HidCaps caps, Clock& clock)
    : info_(std::move(info)), caps_(caps), clock_(clock) {}

void InProcessHidDevice::SetOutputHandler(OutputHandler handler) {
  std::lock_guard lock(mutex_);
  handler_ = std::move(handler);
}

void InProcessHidDevice::QueueInputReport(std::vector<uint8_t> report) {
  report.resize(static_cast<size_t>(std::max(caps_.inputReportLength, 1)), 0);
  {
    std::lock_guard lock(mutex_);
    input_.push_back(std::move(report));
  }
  arrived_.notify_all();
}

void InProcessHidDevice::SetUnresponsive(bool unresponsive) {
  std::lock_guard lock(mutex_);
  unresponsive_ = unresponsive;
}

size_t InProcessHidDevice::QueuedInputReports() {
  std::lock_guard lock(mutex_);
  return input_.size();
}

int InProcessHidDevice::HostWrite(const uint8_t* report, int length, int timeoutMs) {
  OutputHandler handler;
  {
    std::unique_lock lock(mutex_);
    if (unresponsive_) {
      // A write that never completes: the host gives up after its time-out.
      clock_.WaitFor(arrived_, lock, timeoutMs, [] { return false; });
      return 0;
    }
    handler = handler_;
  }
  // The handler runs outside the lock: it queues its answers through QueueInputReport.
  if (handler) handler(std::vector<uint8_t>(report, report + length));
  return length;
}

int InProcessHidDevice::HostRead(uint8_t* report, int length, int timeoutMs) {
  std::unique_lock lock(mutex_);
  bool ready = clock_.WaitFor(arrived_, lock, timeoutMs,
                              [this] { return !unresponsive_ && !input_.empty(); });
  if (!ready) return 0;
  std::vector<uint8_t> next = std::move(input_.front());
  input_.pop_front();
  int n = std::min(length, static_cast<int>(next.size()));
  std::memcpy(report, next.data(), static_cast<size_t>(n));
  return n;
}

void InProcessHidBackend::Add(std::shared_ptr<InProcessHidDevice> device) {
  std::lock_guard lock(mutex_);
  devices_.push_back(std::move(device));
}

void InProcessHidBackend::RemoveAll() {
  std::lock_guard lock(mutex_);
  devices_.clear();
}

std::vector<HidDeviceInfo> InProcessHidBackend::Enumerate() {
  std::lock_guard lock(mutex_);
  std::vector<HidDeviceInfo> infos;
  for (const auto& device : devices_) infos.push_back(device->Info());
  return infos;
}

std::unique_ptr<HidDevice> InProcessHidBackend::Open(const std::string& path) {
  std::lock_guard lock(mutex_);
  for (const auto& device : devices_) {
    if (device->Info().path == path) {
      device->HostOpened();
      return std::make_unique<InProcessHidHandle>(device);
    }
  }
  return nullptr;
}

}  // namespace morlane
