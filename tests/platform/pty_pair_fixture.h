#pragma once

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/serial_port.h"

namespace morlane::test {

// A pseudo-terminal pair standing in for a serial cable: the code under test opens the
// slave path as its port; the test plays the unit on the master.
struct PtyPair {
  PtyPair() {
    char name[256] = {};
    if (openpty(&master, &slave, name, nullptr, nullptr) == 0) {
      path = name;
      termios raw{};
      tcgetattr(slave, &raw);
      cfmakeraw(&raw);
      tcsetattr(slave, TCSANOW, &raw);
      fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
    }
  }
  ~PtyPair() {
    CloseMaster();
    if (slave >= 0) ::close(slave);
  }
  PtyPair(const PtyPair&) = delete;
  PtyPair& operator=(const PtyPair&) = delete;

  bool Ok() const { return master >= 0 && !path.empty(); }
  void CloseMaster() {
    if (master >= 0) ::close(master);
    master = -1;
  }
  // The unit sends bytes.
  void Send(const std::string& bytes) const {
    size_t done = 0;
    while (done < bytes.size()) {
      ssize_t n = ::write(master, bytes.data() + done, bytes.size() - done);
      if (n > 0) done += static_cast<size_t>(n);
      if (n < 0) {
        pollfd out{master, POLLOUT, 0};
        if (poll(&out, 1, 1000) <= 0) return;
      }
    }
  }
  // What the host wrote, waiting up to waitMs for count bytes.
  std::string Received(size_t count, int waitMs = 1000) const {
    std::string got;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    while (got.size() < count && std::chrono::steady_clock::now() < deadline) {
      pollfd in{master, POLLIN, 0};
      if (poll(&in, 1, 20) <= 0) continue;
      char buffer[512];
      ssize_t n = ::read(master, buffer, sizeof buffer);
      if (n > 0) got.append(buffer, static_cast<size_t>(n));
    }
    return got;
  }
  // The speed the host set, as the unit's side of the line sees it.
  speed_t MasterSpeed() const {
    termios settings{};
    tcgetattr(master, &settings);
    return cfgetospeed(&settings);
  }

  int master = -1;
  int slave = -1;  // kept open so that the line stays up while the host reopens
  std::string path;
};

// Input on a pseudo-terminal reaches the other side a moment after it was written.
inline bool WaitQueued(SerialPort& port, int count, int waitMs = 1000) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
  while (port.QueuedBytes() < count) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    port.WaitReadable(10);
  }
  return port.QueuedBytes() == count;
}

inline int64_t ElapsedMs(std::chrono::steady_clock::time_point since) {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now() - since).count();
}

// CPU time this thread has used, user and system, in milliseconds.
inline int64_t ThreadCpuMs() {
  rusage usage{};
  getrusage(RUSAGE_THREAD, &usage);
  return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000 +
         (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1000;
}

}  // namespace morlane::test
