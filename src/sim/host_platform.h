#pragma once

#include <memory>
#include <string>

#include <vector>
#include "platform/hid_device.h"
#include "platform/serial_port.h"

namespace morlane::sim {

class SimUnit;
class SimulatedPlatform;

// What a front end's dialog works with: the serial ports and the HID devices, either the
// real ones or those of the simulated unit running in this process. COM1 is the
// simulated unit's serial side when simulated; the --port paths follow it. Without the
// simulated unit a port the system names "COMn" is COM n (see SystemNumberedPorts).
class HostPlatform {
 public:
  HostPlatform();
  ~HostPlatform();

  bool Start(bool simulate, const std::vector<std::string>& ports, std::string* error);
  // units simulated units, as COM1 to COM<units> (each on a line of its own), the given
  // ports after them; the HID backend is empty.
  bool StartUnits(int units, const std::vector<std::string>& ports, std::string* error);
  // Fault switches ("SWITCH[=VALUE]", sim/sim_options.h) for the simulated unit, or for
  // the first of several; error names the one that is refused, or says there is no unit.
  bool ApplyFaults(const std::vector<std::string>& switches, std::string* error);
  // A station's ports: its slots' devices as COM1 to COMn, or with simulatedUnits > 0 that
  // many simulated units in their place (at least one per slot) with the fault switches.
  bool StartStation(const std::vector<std::string>& slotDevices, int simulatedUnits,
                    const std::vector<std::string>& faults, std::string* error);
  // The simulated unit, when there is one; with several, the first.
  SimUnit* Simulated();
  // Simulated unit n (1-based), or nullptr.
  SimUnit* SimulatedUnit(int n);
  SerialPortFactory& Ports() { return *ports_; }
  HidBackend& HidDevices() { return *hid_; }

 private:
  std::vector<std::unique_ptr<SimulatedPlatform>> simulated_;
  std::unique_ptr<SerialPortFactory> ports_;
  std::unique_ptr<HidBackend> hid_;
};

}  // namespace morlane::sim
