#pragma once

#include <memory>
#include <string>

#include "platform/clock.h"
#include "platform/inprocess_hid.h"
#include "sim/pty_server.h"
#include "sim/sim_unit.h"
#include "sim/sim_usb.h"

namespace morlane::sim {

// The simulated unit inside the process, as both front ends run it with --simulate: its
// serial side on a pseudo-terminal and its USB side as an in-process HID device.
class SimulatedPlatform {
 public:
  explicit SimulatedPlatform(morlane::Clock& clock = morlane::RealClock());
  ~SimulatedPlatform();

  bool Start(std::string* error);
  void Stop();

  SimUnit& Unit() { return unit_; }
  SimUsb& Usb() { return usb_; }
  PtyServer& Line() { return server_; }
  // The pseudo-terminal the host opens as its serial port.
  const std::string& SerialPath() const { return server_.SlavePath(); }
  // A HID backend holding only the unit's USB device.
  std::unique_ptr<morlane::InProcessHidBackend> MakeHidBackend();

 private:
  SimUnit unit_;
  PtyServer server_;
  SimUsb usb_;
};

}  // namespace morlane::sim
