#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/serial_port.h"
#include "sim/sim_unit.h"

namespace morlane::sim {

// The simulated unit's serial side as the host reaches it: a pseudo-terminal where the
// system has them (so that the real serial layer is used), else a line in memory.
class SimulatedLine {
 public:
  virtual ~SimulatedLine() = default;
  virtual bool Start(std::string* error) = 0;
  virtual void Stop() = 0;
  // What the host opens, when it is a device path; empty for a line in memory.
  virtual std::string Path() const = 0;
  // The host's serial ports: the unit's line as COM1, the given ports after it.
  virtual std::unique_ptr<SerialPortFactory> MakePorts(const std::vector<std::string>& others) = 0;
};

std::unique_ptr<SimulatedLine> MakeSimulatedLine(SimUnit& unit);

}  // namespace morlane::sim
