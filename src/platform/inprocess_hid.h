#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/clock.h"
#include "platform/hid_device.h"

namespace morlane {

// A HID device that lives in this process, behind the same interface as a real one: the
// simulated unit's USB side, and the device of the link tests.
class InProcessHidDevice {
 public:
  // Receives every output report the host writes, report id byte included, on the host's
  // thread. It may queue input reports in answer.
  using OutputHandler = std::function<void(const std::vector<uint8_t>& report)>;

  InProcessHidDevice(HidDeviceInfo info, HidCaps caps, Clock& clock);

  const HidDeviceInfo& Info() const { return info_; }
  HidCaps Caps() const { return caps_; }
  void SetOutputHandler(OutputHandler handler);
  // Queues one input report (id byte first) for the host to read; cut or padded with
  // zeros to the input report length.
  void QueueInputReport(std::vector<uint8_t> report);
  // While set, writes do not complete (they time out) and nothing is read.
  void SetUnresponsive(bool unresponsive);
  size_t QueuedInputReports();
  int OpenCount() const { return openCount_; }

  // Host side.
  int HostWrite(const uint8_t* report, int length, int timeoutMs);
  int HostRead(uint8_t* report, int length, int timeoutMs);
  void HostOpened() { ++openCount_; }

 private:
  HidDeviceInfo info_;
  HidCaps caps_;
  Clock& clock_;
  OutputHandler handler_;
  std::mutex mutex_;
  std::condition_variable arrived_;
  std::deque<std::vector<uint8_t>> input_;
  bool unresponsive_ = false;
  int openCount_ = 0;
};

class InProcessHidBackend : public HidBackend {
 public:
  void Add(std::shared_ptr<InProcessHidDevice> device);
  void RemoveAll();
  std::vector<HidDeviceInfo> Enumerate() override;
  std::unique_ptr<HidDevice> Open(const std::string& path) override;

 private:
  std::mutex mutex_;
  std::vector<std::shared_ptr<InProcessHidDevice>> devices_;
};

}  // namespace morlane
