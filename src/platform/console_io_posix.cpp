#include <signal.h>
#include <unistd.h>

#include "platform/console_io.h"

namespace morlane {

namespace {

std::atomic<std::atomic<bool>*> stopFlag{nullptr};
static_assert(std::atomic<std::atomic<bool>*>::is_always_lock_free);
struct sigaction oldInt {};
struct sigaction oldTerm {};

void OnStopSignal(int) {
  if (std::atomic<bool>* flag = stopFlag.load()) flag->store(true);
}

}  // namespace

bool IsTerminal(std::FILE* stream) {
  return isatty(fileno(stream)) == 1;
}

void UseBinaryStdio() {}

StopRequests::StopRequests(std::atomic<bool>& flag) {
  flag.store(false);
  stopFlag.store(&flag);
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, &oldInt);
  sigaction(SIGTERM, &action, &oldTerm);
}

StopRequests::~StopRequests() {
  sigaction(SIGINT, &oldInt, nullptr);
  sigaction(SIGTERM, &oldTerm, nullptr);
  stopFlag.store(nullptr);
}

}  // namespace morlane
