#include "sim/host_platform.h"

#include <cstdlib>

#include "platform/inprocess_hid.h"
#include "platform/port_table.h"
#include "platform/system_devices.h"
#include "sim/sim_options.h"
#include "sim/simulated_platform.h"

namespace morlane::sim {

HostPlatform::HostPlatform() = default;

namespace {

// COM n is unit n's line for the first units, the other ports after them.
class UnitsPortFactory : public SerialPortFactory {
 public:
  UnitsPortFactory(std::vector<std::unique_ptr<SerialPortFactory>> units,
                   std::unique_ptr<SerialPortFactory> others)
      : units_(std::move(units)), others_(std::move(others)) {}
  std::unique_ptr<SerialPort> Open(int comNumber, PortOpenError* error) override {
    if (comNumber >= 1 && comNumber <= Units()) return units_[comNumber - 1]->Open(1, error);
    return others_->Open(comNumber - Units(), error);
  }
  std::string PathOf(int comNumber) const override {
    if (comNumber >= 1 && comNumber <= Units()) return units_[comNumber - 1]->PathOf(1);
    return others_->PathOf(comNumber - Units());
  }

 private:
  int Units() const { return static_cast<int>(units_.size()); }
  std::vector<std::unique_ptr<SerialPortFactory>> units_;
  std::unique_ptr<SerialPortFactory> others_;
};

}  // namespace

HostPlatform::~HostPlatform() {
  // The links go before the units they talk to.
  ports_.reset();
  hid_.reset();
  for (auto& unit : simulated_) unit->Stop();
}

SimUnit* HostPlatform::Simulated() {
  return SimulatedUnit(1);
}

SimUnit* HostPlatform::SimulatedUnit(int n) {
  if (n < 1 || n > static_cast<int>(simulated_.size())) return nullptr;
  return &simulated_[static_cast<size_t>(n - 1)]->Unit();
}

bool HostPlatform::StartUnits(int units, const std::vector<std::string>& ports,
                              std::string* error) {
  std::vector<std::unique_ptr<SerialPortFactory>> lines;
  for (int n = 0; n < units; ++n) {
    simulated_.push_back(std::make_unique<SimulatedPlatform>());
    if (!simulated_.back()->Start(error)) return false;
    lines.push_back(simulated_.back()->MakePorts({}));
  }
  hid_ = std::make_unique<InProcessHidBackend>();
  ports_ = std::make_unique<UnitsPortFactory>(std::move(lines), MakeSystemPorts(PortTable(ports)));
  return true;
}

bool HostPlatform::ApplyFaults(const std::vector<std::string>& switches, std::string* error) {
  for (const std::string& text : switches) {
    // "N:SWITCH" is for unit N of several; a switch alone for the first unit.
    const size_t colon = text.find(':');
    const bool numbered =
        colon != std::string::npos && colon > 0 && text.find_first_not_of("0123456789") == colon;
    SimUnit* unit =
        numbered ? SimulatedUnit(std::atoi(text.substr(0, colon).c_str())) : Simulated();
    const std::string switchText = numbered ? text.substr(colon + 1) : text;
    std::string why = "no simulated unit";
    if (!unit || !ApplyFaultSwitch(switchText, unit->Faults(), &why)) {
      *error = "--simulate-fault " + text + ": " + why;
      return false;
    }
  }
  return true;
}

bool HostPlatform::StartStation(const std::vector<std::string>& slotDevices, int simulatedUnits,
                                const std::vector<std::string>& faults, std::string* error) {
  if (simulatedUnits <= 0) {
    // A station knows its slots by their entries in the profile's order.
    hid_ = MakeSystemHid();
    ports_ = MakeSystemPorts(PortTable::Discover(slotDevices));
    return true;
  }
  if (simulatedUnits < static_cast<int>(slotDevices.size())) {
    *error = "the profile has " + std::to_string(slotDevices.size()) +
             " slots: give --simulate-units " + std::to_string(slotDevices.size());
    return false;
  }
  return StartUnits(simulatedUnits, {}, error) && ApplyFaults(faults, error);
}

bool HostPlatform::Start(bool simulate, const std::vector<std::string>& ports, std::string* error) {
  if (simulate) {
    simulated_.push_back(std::make_unique<SimulatedPlatform>());
    if (!simulated_.back()->Start(error)) return false;
    // The unit's serial side is COM1; the --port paths follow it.
    hid_ = simulated_.back()->MakeHidBackend();
    ports_ = simulated_.back()->MakePorts(ports);
  } else {
    hid_ = MakeSystemHid();
    ports_ = std::make_unique<SystemNumberedPorts>(MakeSystemPorts(PortTable::Discover(ports)));
  }
  return true;
}

}  // namespace morlane::sim
