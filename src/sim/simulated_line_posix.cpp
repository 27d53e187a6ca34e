#include "platform/system_devices.h"
#include "sim/pty_server.h"
#include "sim/simulated_line.h"

namespace morlane::sim {

namespace {

class PtyLine : public SimulatedLine {
 public:
  explicit PtyLine(SimUnit& unit) : server_(unit) {}
  bool Start(std::string* error) override { return server_.Start(error); }
  void Stop() override { server_.Stop(); }
  std::string Path() const override { return server_.SlavePath(); }
  std::unique_ptr<SerialPortFactory> MakePorts(const std::vector<std::string>& others) override {
    std::vector<std::string> paths = others;
    paths.insert(paths.begin(), server_.SlavePath());
    return MakeSystemPorts(PortTable(paths));
  }

 private:
  PtyServer server_;
};

}  // namespace

std::unique_ptr<SimulatedLine> MakeSimulatedLine(SimUnit& unit) {
  return std::make_unique<PtyLine>(unit);
}

}  // namespace morlane::sim
