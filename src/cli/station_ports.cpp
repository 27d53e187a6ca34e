#include "cli/station_ports.h"

#include "cli/cli_session.h"
#include "platform/port_table.h"
#include "platform/system_devices.h"

namespace morlane {

StationPorts::StationPorts(CliSession& session) {
  if (session.Sim()) {
    factory_ = &session.Ports();
  } else {
    own_ = MakeSystemPorts(PortTable::DiscoverPresent(session.Options().ports));
    factory_ = own_.get();
  }
  list_ = NamedPorts(*factory_);
}

}  // namespace morlane
