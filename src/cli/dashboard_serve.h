#pragma once

#include <string>

#include "cli/cli_session.h"

namespace morlane {

struct DashboardArgs {
  std::string listen;     // ADDR:PORT; empty: the default
  std::string tokenFile;  // empty: no token asked
  std::string tlsCert;
  std::string tlsKey;
};

// Serves the line's dashboard over the session's records until Ctrl-C or SIGTERM; the
// exit status. A build without the dashboard says why and returns the usage status.
int ServeDashboard(CliSession& session, const DashboardArgs& args);

}  // namespace morlane
