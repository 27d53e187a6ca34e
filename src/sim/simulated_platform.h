#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/inprocess_hid.h"
#include "sim/sim_unit.h"
#include "sim/sim_usb.h"
#include "sim/simulated_line.h"

namespace morlane::sim {

// The simulated unit inside the process, as both front ends run it with --simulate: its
// serial side on a pseudo-terminal (in memory where there are none) and its USB side as an
// in-process HID device.
class SimulatedPlatform {
 public:
  explicit SimulatedPlatform(morlane::Clock& clock = morlane::RealClock());
  ~SimulatedPlatform();

  bool Start(std::string* error);
  void Stop();

  SimUnit& Unit() { return unit_; }
  SimUsb& Usb() { return usb_; }
  // The pseudo-terminal the host opens as its serial port; empty for a line in memory.
  std::string SerialPath() const { return line_->Path(); }
  // The host's serial ports: the unit as COM1, the given ports after it.
  std::unique_ptr<SerialPortFactory> MakePorts(const std::vector<std::string>& others) {
    return line_->MakePorts(others);
  }
  // A HID backend holding only the unit's USB device.
  std::unique_ptr<morlane::InProcessHidBackend> MakeHidBackend();

 private:
  SimUnit unit_;
  std::unique_ptr<SimulatedLine> line_;
  SimUsb usb_;
};

}  // namespace morlane::sim
