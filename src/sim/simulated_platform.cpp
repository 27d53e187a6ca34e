#include "sim/simulated_platform.h"

namespace morlane::sim {

SimulatedPlatform::SimulatedPlatform(morlane::Clock& clock)
    : line_(MakeSimulatedLine(unit_)), usb_(unit_, clock) {}

SimulatedPlatform::~SimulatedPlatform() {
  Stop();
}

bool SimulatedPlatform::Start(std::string* error) {
  return line_->Start(error);
}

void SimulatedPlatform::Stop() {
  line_->Stop();
}

std::unique_ptr<morlane::InProcessHidBackend> SimulatedPlatform::MakeHidBackend() {
  auto backend = std::make_unique<morlane::InProcessHidBackend>();
  backend->Add(usb_.Device());
  return backend;
}

}  // namespace morlane::sim
