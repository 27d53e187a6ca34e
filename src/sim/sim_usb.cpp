#include "sim/sim_usb.h"

#include <algorithm>
#include <string>
#include <thread>

namespace morlane::sim {

SimUsb::SimUsb(SimUnit& unit, morlane::Clock& clock, morlane::HidCaps caps)
    : unit_(unit),
      device_(std::make_shared<InProcessHidDevice>(
          morlane::HidDeviceInfo{"sim:usb", kVendorId, kProductId}, caps, clock)),
      mcuUpdater_(MakeMcuUpdaterRole(unit)) {
  device_->SetOutputHandler([this](const std::vector<uint8_t>& report) { OnOutput(report); });
}

SimUsb::~SimUsb() {
  device_->SetOutputHandler(nullptr);
  {
    std::lock_guard lock(deliveryMutex_);
    deliveryStop_ = true;
  }
  deliveryChanged_.notify_all();
  if (delivery_.joinable()) delivery_.join();
}

void SimUsb::Reply(InProcessHidDevice& device, const std::vector<uint8_t>& reply) {
  std::vector<uint8_t> payload(reply);
  payload.resize(64, 0);
  int chunk = std::max(1, device.Caps().inputReportLength - 1);
  for (size_t offset = 0; offset < payload.size(); offset += static_cast<size_t>(chunk)) {
    std::vector<uint8_t> report(1, 0x00);
    size_t end = std::min(payload.size(), offset + static_cast<size_t>(chunk));
    report.insert(report.end(), payload.begin() + static_cast<std::ptrdiff_t>(offset),
                  payload.begin() + static_cast<std::ptrdiff_t>(end));
    device.QueueInputReport(std::move(report));
  }
}

std::vector<std::vector<uint8_t>> SimUsb::ReportsSeen() {
  std::lock_guard lock(mutex_);
  return seen_;
}

void SimUsb::OnOutput(const std::vector<uint8_t>& report) {
  {
    std::lock_guard lock(mutex_);
    seen_.push_back(report);
    KeepRecent(seen_, kMaxRecords);
  }
  // A report the unit cannot read as 00 CC 99 n is ignored, as the controller does.
  if (report.size() < 4 || report[0] != 0x00 || report[1] != 0xCC || report[2] != 0x99) return;
  size_t n = std::min<size_t>(report[3], report.size() - 4);
  std::vector<uint8_t> payload(report.begin() + 4,
                               report.begin() + 4 + static_cast<std::ptrdiff_t>(n));
  SimFaults& faults = unit_.Faults();
  if (faults.silent || faults.takenOut) return;
  const int replyDelayMs = faults.replyDelayMs;
  auto reply = [this, replyDelayMs](std::vector<uint8_t> bytes) {
    Answer(std::move(bytes), replyDelayMs);
  };
  if (mcuUpdater_ && mcuUpdater_->OnReport(payload, reply)) return;

  // A service command: text, usually ending in a carriage return.
  std::string command(payload.begin(), payload.end());
  if (!command.empty() && command.back() == '\r') command.pop_back();
  unit_.RecordServiceCommand(command);
  std::optional<std::string> answer = unit_.ServiceAnswer(command);
  if (!answer) return;
  std::string text = *answer + "\r";
  Answer(std::vector<uint8_t>(text.begin(), text.end()), faults.answerDelayMs);
}

void SimUsb::Answer(std::vector<uint8_t> reply, int delayMs) {
  std::unique_lock lock(deliveryMutex_);
  // Nothing is waiting and nothing is late: the answer is there before the write returns,
  // as the controller's is.
  if (delayMs <= 0 && dueAnswers_.empty()) {
    lock.unlock();
    Reply(*device_, reply);
    return;
  }
  auto due = std::chrono::steady_clock::now() + std::chrono::milliseconds(std::max(delayMs, 0));
  // A later answer never overtakes an earlier one, whatever their delays.
  if (!dueAnswers_.empty() && dueAnswers_.back().due > due) due = dueAnswers_.back().due;
  dueAnswers_.push_back(DueAnswer{due, std::move(reply)});
  if (!delivery_.joinable()) delivery_ = std::thread([this] { RunDelivery(); });
  deliveryChanged_.notify_all();
}

void SimUsb::RunDelivery() {
  std::unique_lock lock(deliveryMutex_);
  while (!deliveryStop_) {
    if (dueAnswers_.empty()) {
      deliveryChanged_.wait(lock);
      continue;
    }
    auto due = dueAnswers_.front().due;
    if (std::chrono::steady_clock::now() < due) {
      deliveryChanged_.wait_until(lock, due);
      continue;
    }
    std::vector<uint8_t> reply = std::move(dueAnswers_.front().reply);
    // Handed over before it leaves the queue, so that an answer given meanwhile without
    // delay still waits its turn behind it.
    Reply(*device_, reply);
    dueAnswers_.pop_front();
  }
}

}  // namespace morlane::sim
