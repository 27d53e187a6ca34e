// morlane-unit-sim: the simulated unit on a pseudo-terminal. Prints the terminal's path
// on the first line of stdout and serves until SIGINT or SIGTERM; --help lists the fault
// switches.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "sim/pty_server.h"
#include "sim/sim_options.h"
#include "sim/sim_unit.h"

namespace {
volatile std::sig_atomic_t stopRequested = 0;
void OnSignal(int) {
  stopRequested = 1;
}
}  // namespace

int main(int argc, char** argv) {
  morlane::sim::SimUnit unit;
  std::string error;
  switch (morlane::sim::ApplyOptions(argc, argv, unit.Faults(), &error)) {
    case morlane::sim::OptionsOutcome::Usage:
      std::fprintf(stderr, "morlane-unit-sim: %s\n%s", error.c_str(),
                   morlane::sim::HelpText().c_str());
      return 2;
    case morlane::sim::OptionsOutcome::Help:
      std::fputs(morlane::sim::HelpText().c_str(), stdout);
      return 0;
    case morlane::sim::OptionsOutcome::Version:
      std::printf("%s\n", morlane::sim::VersionText().c_str());
      return 0;
    case morlane::sim::OptionsOutcome::Run:
      break;
  }
  morlane::sim::PtyServer server(unit);
  if (!server.Start(&error)) {
    std::fprintf(stderr, "morlane-unit-sim: %s\n", error.c_str());
    return 1;
  }
  std::signal(SIGINT, OnSignal);
  std::signal(SIGTERM, OnSignal);
  std::printf("%s\n", server.SlavePath().c_str());
  std::fflush(stdout);
  while (!stopRequested) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  server.Stop();
  morlane::sim::ReportOnExit(unit);
  std::fprintf(stderr, "line: software flow control %s\n",
               server.SoftwareFlowControlSeen() ? "seen" : "never on");
  return 0;
}
