// A CPU's bootloader on the serial line at 19200 baud. Placeholder until it lands.
#include "sim/sim_unit.h"

namespace morlane::sim {

namespace {

class BootloaderRole : public SerialRole {
 public:
  BootloaderRole(SimUnit& unit, char cpu) : unit_(unit), cpu_(cpu) {}
  void OnBytes(const uint8_t*, size_t, const SerialEmit&) override {}

 private:
  [[maybe_unused]] SimUnit& unit_;
  [[maybe_unused]] char cpu_;
};

}  // namespace

std::unique_ptr<SerialRole> MakeBootloaderRole(SimUnit& unit, char cpu) {
  return std::make_unique<BootloaderRole>(unit, cpu);
}

}  // namespace morlane::sim
