#pragma once

#include <atomic>
#include <cstdio>

namespace morlane {

// Whether the stream goes to a terminal (or a console window), where a progress bar may be
// drawn.
bool IsTerminal(std::FILE* stream);

// Standard output and error carry the log's bytes unchanged: Windows would otherwise turn
// every "\n" inside a line into "\r\n".
void UseBinaryStdio();

// Sets the flag on Ctrl-C, Ctrl-Break or a polite request to end (SIGTERM), for as long as
// it lives, and puts the previous handling back after. One at a time per process.
class StopRequests {
 public:
  explicit StopRequests(std::atomic<bool>& flag);
  ~StopRequests();
  StopRequests(const StopRequests&) = delete;
  StopRequests& operator=(const StopRequests&) = delete;
};

}  // namespace morlane
