#pragma once

#include <string>
#include <vector>

namespace morlane {

// How a program started by the tool ended.
struct ProgramEnd {
  bool started = false;   // false: it could not be started (not installed, no rights)
  bool timedOut = false;  // it ran past its time and was ended
  int exitCode = -1;
};

// Runs a program (found on PATH when the name has no folder) with these arguments, its
// input, output and errors the tool's own, so that it may ask the person at the terminal
// (a key's passphrase), and waits at most timeoutMs for its end; one that runs longer is
// ended. The arguments reach it one by one as given, never through a shell.
ProgramEnd RunProgram(const std::vector<std::string>& arguments, int timeoutMs);

}  // namespace morlane
