#include "sim/pty_server.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include "platform/monotonic.h"

namespace morlane::sim {

namespace {

int BaudOf(speed_t speed) {
  switch (speed) {
    case B1200:
      return 1200;
    case B2400:
      return 2400;
    case B4800:
      return 4800;
    case B9600:
      return 9600;
    case B19200:
      return 19200;
    case B38400:
      return 38400;
    case B57600:
      return 57600;
    case B115200:
      return 115200;
    default:
      return 0;
  }
}

// The exclusive flag belongs to the terminal and outlives the descriptor that set it: a
// host that ended without clearing it (killed, crashed) would keep every later opener
// but root out, and the line could never be reopened. A host that holds the flag also
// holds a lock on the port; a flag without a lock is left over and is cleared. (A host
// that takes the flag without the lock loses it here: the simulated line serves hosts
// that lock their port.)
void ReleaseStaleExclusive(int slave) {
#ifdef TIOCGEXCL
  int exclusive = 0;
  if (slave < 0 || ioctl(slave, TIOCGEXCL, &exclusive) != 0 || !exclusive) return;
  if (flock(slave, LOCK_EX | LOCK_NB) != 0) return;  // a host has the port
  ioctl(slave, TIOCNXCL);
  flock(slave, LOCK_UN);
#else
  (void)slave;
#endif
}

constexpr int64_t kStaleCheckMs = 200;

}  // namespace

PtyServer::PtyServer(SimUnit& unit) : unit_(unit) {
  unit_.dropLine = [this] { DropLine(); };
}

PtyServer::~PtyServer() {
  Stop();
  unit_.dropLine = nullptr;
}

bool PtyServer::Start(std::string* error) {
  char name[256] = {};
  if (openpty(&master_, &slaveHold_, name, nullptr, nullptr) != 0) {
    if (error) *error = std::string("openpty: ") + std::strerror(errno);
    return false;
  }
  // The server keeps one slave descriptor open so that the line stays up while the host
  // closes and reopens its port; it never reads from it. Raw, so that nothing is echoed.
  termios raw{};
  tcgetattr(slaveHold_, &raw);
  cfmakeraw(&raw);
  tcsetattr(slaveHold_, TCSANOW, &raw);
  fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
  fcntl(master_, F_SETFD, FD_CLOEXEC);
  fcntl(slaveHold_, F_SETFD, FD_CLOEXEC);
  slavePath_ = name;
  stop_ = false;
  thread_ = std::thread([this] { Run(); });
  return true;
}

void PtyServer::Stop() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
  if (master_ >= 0) ::close(master_);
  if (slaveHold_ >= 0) ::close(slaveHold_);
  master_ = slaveHold_ = -1;
}

void PtyServer::DropLine() {
  dropRequested_ = true;
}

int PtyServer::CurrentBaud() {
  termios settings{};
  if (tcgetattr(master_, &settings) != 0) return 0;
  if (settings.c_iflag & (IXON | IXOFF)) flowControlSeen_ = true;
  return BaudOf(cfgetospeed(&settings));
}

void PtyServer::FlushDue() {
  std::lock_guard lock(pendingMutex_);
  pending_.TakeDue(MonotonicMs(), [this](const std::vector<uint8_t>& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
      ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
      if (n > 0) {
        done += static_cast<size_t>(n);
      } else if (n < 0 && errno == EAGAIN) {
        pollfd out{master_, POLLOUT, 0};
        if (poll(&out, 1, 100) <= 0) break;
      } else {
        break;
      }
    }
  });
}

void PtyServer::Run() {
  SerialEmit emit = [this](SerialAnswer answer) {
    std::lock_guard lock(pendingMutex_);
    pending_.Push(std::move(answer), MonotonicMs());
  };
  uint8_t buffer[512];
  int64_t nextStaleCheck = MonotonicMs();
  while (!stop_) {
    if (dropRequested_ && !dropped_) {
      // Both ends go: the host's port sees a hang-up.
      ::close(master_);
      ::close(slaveHold_);
      master_ = slaveHold_ = -1;
      dropped_ = true;
    }
    if (dropped_) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      continue;
    }
    pollfd in{master_, POLLIN, 0};
    int ready = poll(&in, 1, 5);
    if (ready > 0 && (in.revents & POLLIN)) {
      ssize_t n = ::read(master_, buffer, sizeof buffer);
      if (n > 0) unit_.OnSerialBytes(buffer, static_cast<size_t>(n), CurrentBaud(), emit);
    } else if (ready > 0) {
      // No host has the port open: nothing to read until it comes back.
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    FlushDue();
    if (MonotonicMs() >= nextStaleCheck) {
      ReleaseStaleExclusive(slaveHold_);
      nextStaleCheck = MonotonicMs() + kStaleCheckMs;
    }
  }
}

}  // namespace morlane::sim
