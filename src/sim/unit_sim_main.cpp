// morlane-unit-sim: the simulated unit on a pseudo-terminal. Prints the terminal's path
// on the first line of stdout and serves until SIGINT or SIGTERM; --help lists the fault
// switches. The lines "out" and "in" on its standard input take the unit out of its fixture
// and put it back.
#include <poll.h>
#include <unistd.h>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <atomic>
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

// Reads control lines from standard input until it ends or serving goes false; polled, so
// that the program never waits on a read when it is told to stop.
void FollowHands(morlane::sim::SimFaults& faults, const std::atomic<bool>& serving) {
  std::string line;
  while (serving) {
    pollfd input{0, POLLIN, 0};
    if (poll(&input, 1, 100) <= 0) continue;
    char byte = 0;
    if (read(0, &byte, 1) != 1) return;  // the end of input: no hands any more
    if (byte != '\n') {
      if (line.size() < 64) line += byte;
      continue;
    }
    if (line == "out") {
      faults.takenOut = true;
    } else if (line == "in") {
      faults.takenOut = false;
    } else if (!line.empty()) {
      std::fprintf(stderr, "morlane-unit-sim: \"%s\" is no control: out or in\n", line.c_str());
    }
    line.clear();
  }
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
  // The operator's hands: "out" takes the unit out of its fixture, "in" puts it back.
  std::atomic<bool> serving{true};
  std::thread hands([&unit, &serving] { FollowHands(unit.Faults(), serving); });
  while (!stopRequested) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  serving = false;
  hands.join();
  server.Stop();
  morlane::sim::ReportOnExit(unit);
  std::fprintf(stderr, "line: software flow control %s\n",
               server.SoftwareFlowControlSeen() ? "seen" : "never on");
  return 0;
}
