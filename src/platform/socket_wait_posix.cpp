#include <poll.h>

#include <cerrno>
#include <cstdint>

#include "platform/monotonic.h"
#include "platform/socket_wait.h"

namespace morlane {

SocketWait WaitOnSocket(int socket, bool alsoForWrite, int ms) {
  if (socket < 0) return SocketWait::Failed;
  const int64_t deadline = MonotonicMs() + (ms > 0 ? ms : 0);
  for (;;) {
    pollfd entry{socket, static_cast<short>(alsoForWrite ? POLLIN | POLLOUT : POLLIN), 0};
    const int64_t left = deadline - MonotonicMs();
    const int ready = poll(&entry, 1, left > 0 ? static_cast<int>(left) : 0);
    if (ready > 0) return SocketWait::Ready;  // an error or hang-up is read as such by the caller
    if (ready == 0) return SocketWait::TimedOut;
    // A signal's interruption is no answer: wait out the rest of the time.
    if (errno != EINTR) return SocketWait::Failed;
  }
}

}  // namespace morlane
