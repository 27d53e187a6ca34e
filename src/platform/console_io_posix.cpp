#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "platform/console_io.h"

namespace morlane {

namespace {

std::atomic<std::atomic<int>*> stopCount{nullptr};
static_assert(std::atomic<std::atomic<int>*>::is_always_lock_free);
static_assert(std::atomic<int>::is_always_lock_free);
struct sigaction oldInt {};
struct sigaction oldTerm {};
struct sigaction oldHangUp {};

void OnStopSignal(int) {
  if (std::atomic<int>* presses = stopCount.load()) presses->fetch_add(1);
}

// The terminal is gone: nobody is left to press a second time.
void OnHangUp(int) {
  if (std::atomic<int>* presses = stopCount.load()) presses->fetch_add(2);
}

}  // namespace

bool IsTerminal(std::FILE* stream) {
  return isatty(fileno(stream)) == 1;
}

bool WindowsConventions() {
  return false;
}

void UseBinaryStdio() {}

void IgnoreClosedPipes() {
  signal(SIGPIPE, SIG_IGN);
}

std::vector<std::string> Utf8Arguments(int argc, char** argv) {
  return std::vector<std::string>(argv, argv + argc);
}

int TerminalColumns(std::FILE* stream) {
  struct winsize size {};
  if (ioctl(fileno(stream), TIOCGWINSZ, &size) != 0) return 0;
  return size.ws_col;
}

bool EnableTerminalEscapes(std::FILE*) {
  return true;
}

StopRequests::StopRequests(std::atomic<int>& presses) {
  presses.store(0);
  stopCount.store(&presses);
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, &oldInt);
  sigaction(SIGTERM, &action, &oldTerm);
  action.sa_handler = OnHangUp;
  sigaction(SIGHUP, &action, &oldHangUp);
}

StopRequests::~StopRequests() {
  sigaction(SIGINT, &oldInt, nullptr);
  sigaction(SIGTERM, &oldTerm, nullptr);
  sigaction(SIGHUP, &oldHangUp, nullptr);
  stopCount.store(nullptr);
}

bool DeliverConsoleEvent(unsigned long) {
  return false;
}

}  // namespace morlane
