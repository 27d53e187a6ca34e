#include "sim/host_platform.h"

#include "platform/port_table.h"
#include "platform/system_devices.h"
#include "sim/simulated_platform.h"

namespace morlane::sim {

HostPlatform::HostPlatform() = default;

HostPlatform::~HostPlatform() {
  // The links go before the unit they talk to.
  ports_.reset();
  hid_.reset();
  if (simulated_) simulated_->Stop();
}

SimUnit* HostPlatform::Simulated() {
  return simulated_ ? &simulated_->Unit() : nullptr;
}

bool HostPlatform::Start(bool simulate, const std::vector<std::string>& ports, std::string* error) {
  if (simulate) {
    simulated_ = std::make_unique<SimulatedPlatform>();
    if (!simulated_->Start(error)) return false;
    // The unit's serial side is COM1; the --port paths follow it.
    hid_ = simulated_->MakeHidBackend();
    ports_ = simulated_->MakePorts(ports);
  } else {
    hid_ = MakeSystemHid();
    ports_ = MakeSystemPorts(PortTable::Discover(ports));
  }
  return true;
}

}  // namespace morlane::sim
