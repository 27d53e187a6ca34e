// The MCU updater of the unit's USB side. Placeholder until it lands.
#include "sim/sim_usb.h"

namespace morlane::sim {

namespace {

class McuUpdaterRole : public UsbRole {
 public:
  explicit McuUpdaterRole(SimUnit& unit) : unit_(unit) {}
  bool OnReport(const std::vector<uint8_t>&, InProcessHidDevice&) override { return false; }

 private:
  [[maybe_unused]] SimUnit& unit_;
};

}  // namespace

std::unique_ptr<UsbRole> MakeMcuUpdaterRole(SimUnit& unit) {
  return std::make_unique<McuUpdaterRole>(unit);
}

}  // namespace morlane::sim
