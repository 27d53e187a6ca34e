#include <cstdio>

#include "cli/dashboard_serve.h"

namespace morlane {

int ServeDashboard(CliSession&, const DashboardArgs&) {
  std::fprintf(stderr,
               "morlane-cli: dashboard: this Windows build does not serve the dashboard (its "
               "web server is built for Linux only); serve it from a Linux machine over the "
               "line's database (--records-db)\n");
  return kExitUsage;
}

}  // namespace morlane
