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

// Whether the program runs on Windows and follows its conventions: "/?" asks a console
// program for its help, and ports are COM ports, with no device groups, udev or modem
// manager to speak of.
bool WindowsConventions();

// Standard output and error carry the log's bytes unchanged: Windows would otherwise turn
// every "\n" inside a line into "\r\n". A Windows console is told that the bytes are UTF-8.
void UseBinaryStdio();

// A reader of standard output that went away (a pipe into "head") makes a write fail
// instead of ending the process: a unit in the middle of a burn is never cut short by it.
// Windows raises no signal for a closed pipe; there the write fails as it is.
void IgnoreClosedPipes();

// Counts Ctrl-C, Ctrl-Break and polite requests to end (SIGTERM) in presses, for as long as
// it lives, and puts the previous handling back after. Every press is counted as it comes:
// two presses in quick succession are two. The terminal going away (SIGHUP; on Windows the
// console window closed, the user logging off, the system shutting down) counts as two
// presses at once: everything stops now. Windows ends the process as soon as its handler
// of such an event returns, so there the handler holds the process until this object is
// destroyed (its owner has kept what it must keep) or, at the most, kConsoleCloseWaitMs.
// One at a time per process.
class StopRequests {
 public:
  explicit StopRequests(std::atomic<int>& presses);
  ~StopRequests();
  StopRequests(const StopRequests&) = delete;
  StopRequests& operator=(const StopRequests&) = delete;

  // Windows gives a console program 5 s after a close (and its shut-down time-out after a
  // log-off or shut-down) before it ends it; longer than that nothing is lost by waiting.
  static constexpr int kConsoleCloseWaitMs = 10000;
};

// Hands a console event to the process's handlers as the system does (Windows; the value is
// the system's CTRL_..._EVENT), and answers what they answered; false elsewhere. For tests:
// the system sends a close only to a console window that really closes.
bool DeliverConsoleEvent(unsigned long event);

}  // namespace morlane
