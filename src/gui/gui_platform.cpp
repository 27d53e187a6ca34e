#include "gui/gui_platform.h"

#include "platform/hidapi_backend.h"
#include "platform/port_table.h"
#include "platform/termios_port.h"
#include "sim/simulated_platform.h"

namespace morlane::gui {

GuiPlatform::GuiPlatform() = default;

GuiPlatform::~GuiPlatform() {
  // The links go before the unit they talk to.
  ports_.reset();
  hid_.reset();
  if (simulated_) simulated_->Stop();
}

bool GuiPlatform::Start(const GuiOptions& options, std::string* error) {
  std::vector<std::string> paths = options.ports;
  if (options.simulate) {
    simulated_ = std::make_unique<sim::SimulatedPlatform>();
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

}  // namespace morlane::gui
