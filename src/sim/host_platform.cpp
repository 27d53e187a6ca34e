#include "sim/host_platform.h"

#include "platform/hidapi_backend.h"
#include "platform/port_table.h"
#include "platform/termios_port.h"
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
  std::vector<std::string> paths = ports;
  if (simulate) {
    simulated_ = std::make_unique<SimulatedPlatform>();
    if (!simulated_->Start(error)) return false;
    // The unit's serial side is COM1; the --port paths follow it.
    paths.insert(paths.begin(), simulated_->SerialPath());
    hid_ = simulated_->MakeHidBackend();
    ports_ = std::make_unique<TermiosPortFactory>(PortTable(paths));
  } else {
    hid_ = std::make_unique<HidapiBackend>();
    ports_ = std::make_unique<TermiosPortFactory>(PortTable::Discover(paths));
  }
  return true;
}

}  // namespace morlane::sim
