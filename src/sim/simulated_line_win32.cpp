#include "platform/system_devices.h"
#include "sim/memory_line.h"
#include "sim/simulated_line.h"

namespace morlane::sim {

namespace {

class InMemoryLine : public SimulatedLine {
 public:
  explicit InMemoryLine(SimUnit& unit) : line_(unit) {}
  bool Start(std::string* error) override { return line_.Start(error); }
  void Stop() override { line_.Stop(); }
  std::string Path() const override { return {}; }
  std::unique_ptr<SerialPortFactory> MakePorts(const std::vector<std::string>& others) override {
    std::unique_ptr<SerialPortFactory> rest;
    if (!others.empty()) rest = MakeSystemPorts(PortTable::Discover(others));
    return std::make_unique<SimulatedPortFactory>(line_, std::move(rest));
  }

 private:
  MemoryLine line_;
};

}  // namespace

std::unique_ptr<SimulatedLine> MakeSimulatedLine(SimUnit& unit) {
  return std::make_unique<InMemoryLine>(unit);
}

}  // namespace morlane::sim
