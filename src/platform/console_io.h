#pragma once

#include <atomic>
#include <cstdio>
#include <string>
#include <vector>

namespace morlane {

// Whether the stream goes to a terminal (or a console window), where a progress bar may be
// drawn.
bool IsTerminal(std::FILE* stream);

// The width of the terminal (or console window) the stream goes to, in columns; 0 when it
// does not say.
int TerminalColumns(std::FILE* stream);

// Makes the terminal the stream goes to take the escapes that move the cursor and clear a
// line (a Windows console needs them turned on); false where it cannot.
bool EnableTerminalEscapes(std::FILE* stream);

// The program's arguments as UTF-8, as main() got them on Linux; Windows hands main() its
// arguments in the narrow code page, which turns "ü" and every Chinese character of a path
// into "?", so there they are read from the wide command line.
std::vector<std::string> Utf8Arguments(int argc, char** argv);

// Standard output and error carry the log's bytes unchanged: Windows would otherwise turn
// every "\n" inside a line into "\r\n". A Windows console is told that the bytes are UTF-8.
void UseBinaryStdio();

// Counts Ctrl-C, Ctrl-Break and polite requests to end (SIGTERM) in presses, for as long as
// it lives, and puts the previous handling back after. Every press is counted as it comes:
// two presses in quick succession are two. One at a time per process.
class StopRequests {
 public:
  explicit StopRequests(std::atomic<int>& presses);
  ~StopRequests();
  StopRequests(const StopRequests&) = delete;
  StopRequests& operator=(const StopRequests&) = delete;
};

}  // namespace morlane
