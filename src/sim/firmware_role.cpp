// The unit's running firmware on the serial line at 9600 baud: service commands ending in
// a carriage return, and "P" + CPU letter, which hands the line to that CPU's bootloader.
#include <string>

#include "sim/sim_unit.h"

namespace morlane::sim {

namespace {

class FirmwareRole : public SerialRole {
 public:
  explicit FirmwareRole(SimUnit& unit) : unit_(unit) {}

  void OnBytes(const uint8_t* data, size_t n, const SerialEmit& emit) override {
    for (size_t i = 0; i < n; ++i) {
      char c = static_cast<char>(data[i]);
      if (c != '\r') {
        // A line longer than any command is noise: it is dropped, not grown without end.
        if (line_.size() < 256) line_.push_back(c);
        continue;
      }
      std::string line;
      line.swap(line_);
      OnLine(line, emit);
    }
  }

  void Reset() override { line_.clear(); }

 private:
  void OnLine(const std::string& line, const SerialEmit& emit) {
    SimFaults& faults = unit_.Faults();
    if (line == "PM" || line == "PS") {
      unit_.SelectCpu(line[1]);
      if (!faults.noSelectionEcho && !faults.silent) {
        emit(SerialAnswer{{'P', static_cast<uint8_t>(line[1]), '\r'}, 0});
      }
      return;
    }
    unit_.RecordServiceCommand(line);
    if (faults.silent) return;
    std::optional<std::string> answer = unit_.ServiceAnswer(line);
    if (!answer) return;
    std::string text = *answer + "\r";
    emit(SerialAnswer{std::vector<uint8_t>(text.begin(), text.end()), faults.answerDelayMs});
  }

  SimUnit& unit_;
  std::string line_;
};

}  // namespace

std::unique_ptr<SerialRole> MakeFirmwareRole(SimUnit& unit) {
  return std::make_unique<FirmwareRole>(unit);
}

}  // namespace morlane::sim
