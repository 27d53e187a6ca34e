#pragma once

#include <memory>
#include <string>

#include "platform/serial_port.h"
#include "sim/sim_unit.h"
#include "support/memory_serial.h"

namespace morlane::test {

// A port starts with an empty input queue, as real ports and the pseudo-terminal layer
// do: what the unit sent before the host reopened is gone.
class FreshPorts : public SerialPortFactory {
 public:
  explicit FreshPorts(MemoryLine& line) : line_(line) { ports_.Add(1, &line); }
  std::unique_ptr<SerialPort> Open(int comNumber, PortOpenError* error) override {
    std::unique_ptr<SerialPort> port = ports_.Open(comNumber, error);
    if (port) line_.rx_.clear();
    return port;
  }
  std::string PathOf(int comNumber) const override { return ports_.PathOf(comNumber); }

 private:
  MemoryLine& line_;
  MemoryPortFactory ports_;
};

// The simulated unit at the other end of the in-memory line: its answers are queued at
// once (the virtual clock has no time for their delays), and its "line gone" fault
// fails the line.
inline void ConnectToUnit(MemoryLine& line, sim::SimUnit& unit) {
  line.SetPeer([&unit](const std::vector<uint8_t>& written, int baud, MemoryLine& to) {
    unit.OnSerialBytes(written.data(), written.size(), baud,
                       [&to](sim::SerialAnswer answer) { to.Queue(answer.bytes); });
  });
  unit.dropLine = [&line] { line.Fail(); };
}

}  // namespace morlane::test
