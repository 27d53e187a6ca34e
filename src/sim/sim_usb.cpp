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
  }
  // A report the unit cannot read as 00 CC 99 n is ignored, as the controller does.
  if (report.size() < 4 || report[0] != 0x00 || report[1] != 0xCC || report[2] != 0x99) return;
  size_t n = std::min<size_t>(report[3], report.size() - 4);
  std::vector<uint8_t> payload(report.begin() + 4, report.begin() + 4 + static_cast<std::ptrdiff_t>(n));
  SimFaults& faults = unit_.Faults();
  if (faults.silent) return;
  if (mcuUpdater_ && mcuUpdater_->OnReport(payload, *device_)) return;

  // A service command: text, usually ending in a carriage return.
  std::string command(payload.begin(), payload.end());
  if (!command.empty() && command.back() == '\r') command.pop_back();
  unit_.RecordServiceCommand(command);
  std::optional<std::string> answer = unit_.ServiceAnswer(command);
  if (!answer) return;
  int delay = faults.answerDelayMs;
  if (delay > 0) std::this_thread::sleep_for(std::chrono::milliseconds(delay));
  std::string text = *answer + "\r";
  Reply(*device_, std::vector<uint8_t>(text.begin(), text.end()));
}

}  // namespace morlane::sim
