#include "gui/termination.h"

#include <fcntl.h>
#include <unistd.h>

#include <QSocketNotifier>

#include <csignal>

namespace morlane::gui {

namespace {

int wakePipe[2] = {-1, -1};

void OnSignal(int) {
  // Only async-signal-safe work here: one byte into the pipe.
  char byte = 1;
  ssize_t written = write(wakePipe[1], &byte, 1);
  (void)written;
}

}  // namespace

TerminationWatcher::TerminationWatcher(std::function<void()> onTerminate, QObject* parent)
    : QObject(parent), onTerminate_(std::move(onTerminate)) {
  if (wakePipe[0] < 0 && pipe2(wakePipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
  notifier_ = new QSocketNotifier(wakePipe[0], QSocketNotifier::Read, this);
  connect(notifier_, &QSocketNotifier::activated, this, [this] {
    char buffer[16];
    while (read(wakePipe[0], buffer, sizeof buffer) > 0) {
    }
    if (onTerminate_) onTerminate_();
  });
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (int signal : {SIGTERM, SIGINT, SIGHUP}) sigaction(signal, &action, nullptr);
}

TerminationWatcher::~TerminationWatcher() {
  struct sigaction action {};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  for (int signal : {SIGTERM, SIGINT, SIGHUP}) sigaction(signal, &action, nullptr);
}

}  // namespace morlane::gui
