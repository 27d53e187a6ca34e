// The serial port on POSIX systems: one descriptor in raw 8N1, held for exclusive use.
#include "platform/termios_port.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

#include "platform/monotonic.h"

namespace morlane {

namespace {

struct BaudCode {
  int baud;
  speed_t code;
};

// The unit talks at 9600 and 19200; the other standard rates are mapped so that the layer
// serves any line a technician may meet.
constexpr BaudCode kBaudCodes[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000},
};

bool SpeedCodeOf(int baud, speed_t* code) {
  for (const BaudCode& entry : kBaudCodes) {
    if (entry.baud == baud) {
      *code = entry.code;
      return true;
    }
  }
  return false;
}

// Errors that mean the device itself has gone (adapter pulled, line hung up).
bool DeviceGone(int error) {
  return error == EIO || error == ENXIO || error == ENODEV || error == EBADF;
}

PortOpenError OpenErrorOf(int error) {
  switch (error) {
    case ENOENT:
    case ENODEV:
    case ENXIO:
    case ENOTDIR:
      return PortOpenError::NotFound;
    case EBUSY:
    case EWOULDBLOCK:
      return PortOpenError::Busy;
    case EACCES:
    case EPERM:
    case EROFS:
      return PortOpenError::PermissionDenied;
    default:
      return PortOpenError::Other;
  }
}

class TermiosPort : public SerialPort {
 public:
  explicit TermiosPort(int fd) : fd_(fd) {}

  ~TermiosPort() override {
    // The exclusive flag lives on the terminal, not on this descriptor: a pseudo-terminal
    // whose other side stays open would keep refusing other openers without this.
    ioctl(fd_, TIOCNXCL);
    flock(fd_, LOCK_UN);
    ::close(fd_);
  }

  bool SetLine(int baud) override {
    speed_t code = 0;
    if (failed_ || !SpeedCodeOf(baud, &code)) return false;
    termios settings{};
    if (tcgetattr(fd_, &settings) != 0) return Failed(errno);
    cfmakeraw(&settings);
    settings.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB | CRTSCTS);
    settings.c_cflag |= CS8 | CLOCAL | CREAD;
    settings.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
    // Reads return at once with what is queued; waits are done with poll.
    settings.c_cc[VMIN] = 0;
    settings.c_cc[VTIME] = 0;
    cfsetispeed(&settings, code);
    cfsetospeed(&settings, code);
    if (tcsetattr(fd_, TCSANOW, &settings) != 0) return Failed(errno);
    // tcsetattr succeeds when any one change took; a driver that refused the speed shows
    // it only in the settings read back.
    termios applied{};
    if (tcgetattr(fd_, &applied) != 0) return Failed(errno);
    return cfgetospeed(&applied) == code && (applied.c_cflag & CSIZE) == CS8 &&
           (applied.c_cflag & PARENB) == 0;
  }

  int QueuedBytes() override {
    if (failed_ || HungUp()) return -1;
    int queued = 0;
    if (ioctl(fd_, FIONREAD, &queued) != 0) {
      Fail(errno);
      return -1;
    }
    return queued;
  }

  int Read(uint8_t* buffer, int n) override {
    if (failed_) return -1;
    if (n <= 0) return 0;
    while (true) {
      ssize_t got = ::read(fd_, buffer, static_cast<size_t>(n));
      if (got > 0) return static_cast<int>(got);
      // With VMIN 0 an empty queue reads as EAGAIN; end of file is a hung-up line.
      if (got == 0) return HungUp() ? -1 : 0;
      if (errno == EINTR) continue;
      if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
      Fail(errno);
      return -1;
    }
  }

  int Write(const uint8_t* data, int n, int timeoutMs) override {
    if (failed_) return -1;
    int done = 0;
    int64_t deadline = MonotonicMs() + (timeoutMs > 0 ? timeoutMs : 0);
    while (done < n) {
      ssize_t put = ::write(fd_, data + done, static_cast<size_t>(n - done));
      if (put > 0) {
        done += static_cast<int>(put);
        continue;
      }
      if (put < 0 && errno == EINTR) continue;
      if (put < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
        Fail(errno);
        return -1;
      }
      // The driver's queue is full: wait for room, at most until the deadline.
      int64_t left = deadline - MonotonicMs();
      if (left <= 0) break;
      pollfd out{fd_, POLLOUT, 0};
      int ready = poll(&out, 1, static_cast<int>(left));
      if (ready < 0 && errno != EINTR) break;
      if (ready > 0 && (out.revents & (POLLHUP | POLLERR | POLLNVAL))) {
        failed_ = true;
        return -1;
      }
    }
    return done;
  }

  bool WaitReadable(int timeoutMs) override {
    int64_t deadline = MonotonicMs() + (timeoutMs > 0 ? timeoutMs : 0);
    while (!failed_) {
      int64_t left = deadline - MonotonicMs();
      pollfd in{fd_, POLLIN, 0};
      int ready = poll(&in, 1, static_cast<int>(left > 0 ? left : 0));
      if (ready < 0 && errno == EINTR) continue;
      if (ready < 0) {
        Fail(errno);
        break;
      }
      if (ready == 0) return false;
      if (in.revents & (POLLHUP | POLLERR | POLLNVAL)) {
        failed_ = true;
        break;
      }
      return (in.revents & POLLIN) != 0;
    }
    // A dead device would make poll return at once forever: the caller's loop would spin
    // a core. The wait is served out instead.
    int64_t left = deadline - MonotonicMs();
    if (left > 0) std::this_thread::sleep_for(std::chrono::milliseconds(left));
    return false;
  }

 private:
  void Fail(int error) {
    if (DeviceGone(error)) failed_ = true;
  }
  bool Failed(int error) {
    Fail(error);
    return false;
  }

  bool HungUp() {
    pollfd probe{fd_, 0, 0};
    if (poll(&probe, 1, 0) > 0 && (probe.revents & (POLLHUP | POLLERR | POLLNVAL))) {
      failed_ = true;
    }
    return failed_;
  }

  int fd_;
  bool failed_ = false;
};

}  // namespace

std::unique_ptr<SerialPort> OpenTermiosPort(const std::string& path, PortOpenError* error) {
  PortOpenError ignored = PortOpenError::None;
  PortOpenError& result = error ? *error : ignored;
  result = PortOpenError::None;
  if (path.empty()) {
    result = PortOpenError::NotFound;
    return nullptr;
  }
  int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    result = OpenErrorOf(errno);
    return nullptr;
  }
  auto refuse = [&](PortOpenError why) {
    ::close(fd);
    result = why;
    return nullptr;
  };
  termios settings{};
  if (tcgetattr(fd, &settings) != 0) return refuse(PortOpenError::Unconfigurable);
  // The lock first, the terminal's exclusive flag second: whoever holds the flag then
  // always holds the lock too. flock also keeps out root, whom TIOCEXCL lets through.
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    int why = errno;
    return refuse(why == EWOULDBLOCK ? PortOpenError::Busy : OpenErrorOf(why));
  }
  if (ioctl(fd, TIOCEXCL) != 0) {
    flock(fd, LOCK_UN);
    return refuse(PortOpenError::Unconfigurable);
  }
  // Bytes that came in while nobody held the port belong to no one; a freshly opened
  // port starts with an empty input queue.
  tcflush(fd, TCIFLUSH);
  return std::make_unique<TermiosPort>(fd);
}

}  // namespace morlane
