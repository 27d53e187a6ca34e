#pragma once

#include <functional>
#include <memory>
#include <string>

#include "cli/cli_session.h"
#include "records/live_state.h"

namespace morlane {

struct DashboardArgs {
  std::string listen;     // ADDR:PORT; empty: the default
  std::string tokenFile;  // empty: no token asked
  std::string tlsCert;
  std::string tlsKey;
};

// --token-file, --tls-cert and --tls-key, for `dashboard` and `station --dashboard`.
void AddDashboardAccessOptions(CLI::App& command, DashboardArgs& args);

// Serves the line's dashboard over the session's records until Ctrl-C or SIGTERM; the
// exit status. A build without the dashboard says why and returns the usage status.
int ServeDashboard(CliSession& session, const DashboardArgs& args);

// A running station's dashboard, served until it is destroyed.
class StationDashboard {
 public:
  virtual ~StationDashboard() = default;
};

// Serves the dashboard of a running station: the runs of its records folder (read through
// a reader of their own) and its slots as live says they stand now. Null, said on stderr and
// with the exit status in *status, when it cannot be served; nothing has run then.
std::unique_ptr<StationDashboard> ServeStationDashboard(CliSession& session,
                                                        const DashboardArgs& args,
                                                        const std::string& records,
                                                        std::function<LiveStation()> live,
                                                        int* status);

}  // namespace morlane
