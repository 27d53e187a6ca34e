#include <cstdio>

#include "cli/dashboard_serve.h"

namespace morlane {

namespace {

void SayUnserved() {
  std::fprintf(stderr,
               "morlane-cli: dashboard: this Windows build does not serve the dashboard (its "
               "web server is built for Linux only); serve it from a Linux machine over the "
               "line's database (--records-db)\n");
}

}  // namespace

int ServeDashboard(CliSession&, const DashboardArgs&) {
  SayUnserved();
  return kExitUsage;
}

std::unique_ptr<StationDashboard> ServeStationDashboard(CliSession&, const DashboardArgs&,
                                                        const std::string&,
                                                        std::function<LiveStation()>, int* status) {
  SayUnserved();
  *status = kExitUsage;
  return nullptr;
}

}  // namespace morlane
