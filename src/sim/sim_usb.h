#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/clock.h"
#include "platform/inprocess_hid.h"
#include "sim/sim_unit.h"

namespace morlane::sim {

// A role on the unit's USB side: gets each output report's payload, answers with
// 64-byte replies through reply. Returns true when it took the report.
class UsbRole {
 public:
  using ReplyTo = std::function<void(std::vector<uint8_t> reply)>;
  virtual ~UsbRole() = default;
  virtual bool OnReport(const std::vector<uint8_t>& payload, const ReplyTo& reply) = 0;
};

// The unit's USB interface controller: vendor 0x590, product 0x4b. Output reports are
// 00 CC 99 n payload; each answer is one 64-byte reply in input reports of the device's
// input length.
class SimUsb {
 public:
  static constexpr uint16_t kVendorId = 0x590;
  static constexpr uint16_t kProductId = 0x4b;

  SimUsb(SimUnit& unit, morlane::Clock& clock, morlane::HidCaps caps = {65, 69});
  ~SimUsb();
  SimUsb(const SimUsb&) = delete;
  SimUsb& operator=(const SimUsb&) = delete;
  std::shared_ptr<InProcessHidDevice> Device() { return device_; }
  // Sends a 64-byte reply (cut or zero-filled) as input reports.
  static void Reply(InProcessHidDevice& device, const std::vector<uint8_t>& reply);
  // Output reports that came in, whole, for the tests.
  std::vector<std::vector<uint8_t>> ReportsSeen();
  // The MCU updater role (sim/mcu_updater_role.h), for the tests.
  UsbRole& McuUpdater() { return *mcuUpdater_; }

 private:
  void OnOutput(const std::vector<uint8_t>& report);
  // An answer after delayMs, without holding up the host's write: answers that
  // are due later are handed over by the delivery thread, in the order they were given.
  void Answer(std::vector<uint8_t> reply, int delayMs);
  void RunDelivery();

  struct DueAnswer {
    std::chrono::steady_clock::time_point due;
    std::vector<uint8_t> reply;
  };

  SimUnit& unit_;
  std::shared_ptr<InProcessHidDevice> device_;
  std::unique_ptr<UsbRole> mcuUpdater_;
  std::mutex mutex_;
  std::vector<std::vector<uint8_t>> seen_;
  std::mutex deliveryMutex_;
  std::condition_variable deliveryChanged_;
  std::deque<DueAnswer> dueAnswers_;
  bool deliveryStop_ = false;
  std::thread delivery_;  // started with the first delayed answer
};

std::unique_ptr<UsbRole> MakeMcuUpdaterRole(SimUnit& unit);

}  // namespace morlane::sim
