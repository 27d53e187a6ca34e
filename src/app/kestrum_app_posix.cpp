#include "app/kestrum_app.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstring>

#include "platform/monotonic.h"

namespace morlane {

namespace {

// The window property the running instance is known by.
constexpr const char* kPropertyName = "Kestrum";

// Abstract names are free-form bytes after a leading NUL; they vanish with the socket,
// so a crashed instance leaves nothing behind that could block the next start.
socklen_t AbstractAddress(const std::string& name, sockaddr_un* address) {
  std::memset(address, 0, sizeof *address);
  address->sun_family = AF_UNIX;
  size_t length = std::min(name.size(), sizeof address->sun_path - 1);
  std::memcpy(address->sun_path + 1, name.data(), length);
  return static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + length);
}

// Any local user can reach any abstract name, so both sides check who is at the other end.
bool PeerIsThisUser(int fd) {
  ucred peer{};
  socklen_t size = sizeof peer;
  if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0) return false;
  return peer.uid == getuid();
}

// Reads until the text ends in a line feed, the buffer is full, the peer closes, or
// waitMs have passed.
std::string ReadLine(int fd, int waitMs) {
  std::string text;
  int64_t deadline = MonotonicMs() + waitMs;
  char buffer[16];
  while (text.size() < 32 && (text.empty() || text.back() != '\n')) {
    int left = static_cast<int>(deadline - MonotonicMs());
    if (left <= 0) break;
    pollfd wait{fd, POLLIN, 0};
    int ready = poll(&wait, 1, left);
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) break;
    ssize_t got = read(fd, buffer, sizeof buffer);
    if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (got <= 0) break;
    text.append(buffer, static_cast<size_t>(got));
  }
  return text;
}

void WriteAll(int fd, const char* text) {
  size_t length = std::strlen(text);
  while (length > 0) {
    ssize_t sent = send(fd, text, length, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (sent < 0 && errno == EINTR) continue;
    if (sent <= 0) return;
    text += sent;
    length -= static_cast<size_t>(sent);
  }
}

}  // namespace

CKestrumApp::CKestrumApp(std::string tag) {
  name_ = std::string(kPropertyName) + "." + std::to_string(getuid());
  if (!tag.empty()) name_ += "." + tag;
}

CKestrumApp::~CKestrumApp() {
  Stop();
}

CKestrumApp::Start CKestrumApp::InitInstance(bool withOptions) {
  // Binding first and asking second leaves no gap in which two starts could both find
  // the name free. An instance that ends between our failed bind and our connect frees
  // the name again, so the pair is tried a few times.
  for (int attempt = 0; attempt < 3; ++attempt) {
    if (Bind()) return Start::First;
    switch (AskRunningInstance(withOptions)) {
      case Ask::Asked:
        return Start::Second;
      case Ask::Foreign:
        return Start::Unguarded;
      case Ask::Gone:
        break;
    }
  }
  // Someone keeps the name without answering as an instance would: run without the rule
  // rather than not at all.
  return Start::Unguarded;
}

bool CKestrumApp::Bind() {
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return false;
  sockaddr_un address;
  socklen_t length = AbstractAddress(name_, &address);
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0 || listen(fd, 8) != 0) {
    close(fd);
    return false;
  }
  int wake[2];
  if (pipe2(wake, O_CLOEXEC | O_NONBLOCK) != 0) {
    close(fd);
    return false;
  }
  listenFd_ = fd;
  wakeRead_ = wake[0];
  wakeWrite_ = wake[1];
  listener_ = std::thread([this] { Serve(); });
  return true;
}

CKestrumApp::Ask CKestrumApp::AskRunningInstance(bool withOptions) {
  // Non-blocking, so that even a full backlog cannot hold this start.
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return Ask::Gone;
  sockaddr_un address;
  socklen_t length = AbstractAddress(name_, &address);
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), length) != 0) {
    int failure = errno;
    close(fd);
    // A full backlog means an instance is there, just slow to accept.
    return failure == EAGAIN ? Ask::Asked : Ask::Gone;
  }
  if (!PeerIsThisUser(fd)) {
    close(fd);
    return Ask::Foreign;
  }
  WriteAll(fd, withOptions ? kRequestWithOptions : kRequest);
  // The answer only tells that the request arrived; without one the instance is still
  // there (busy programming, say), and a second start never shows an error.
  ReadLine(fd, kAnswerWaitMs);
  close(fd);
  return Ask::Asked;
}

void CKestrumApp::Serve() {
  for (;;) {
    pollfd waits[2] = {{listenFd_, POLLIN, 0}, {wakeRead_, POLLIN, 0}};
    int ready = poll(waits, 2, -1);
    if (ready < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (waits[1].revents != 0) return;
    if (waits[0].revents & (POLLERR | POLLHUP | POLLNVAL)) return;
    int client = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) continue;
    ServeOne(client);
    close(client);
  }
}

void CKestrumApp::ServeOne(int client) {
  if (!PeerIsThisUser(client)) return;
  // One client at a time, each for a bounded time: a connection that never speaks
  // delays the next start by kRequestWaitMs at most.
  const std::string request = ReadLine(client, kRequestWaitMs);
  if (request != kRequest && request != kRequestWithOptions) return;
  WriteAll(client, kAnswer);
  Activate(request == kRequestWithOptions);
}

void CKestrumApp::Activate(bool withOptions) {
  std::function<void()> handler;
  std::function<void()> optionsHandler;
  {
    std::lock_guard lock(mutex_);
    if (withOptions) {
      if (optionsHandler_) {
        optionsHandler = optionsHandler_;
      } else {
        ++pendingOptions_;
      }
    }
    if (handler_) {
      handler = handler_;
    } else {
      ++pending_;
    }
  }
  if (optionsHandler) optionsHandler();
  if (handler) handler();
}

void CKestrumApp::SetOptionsNotAppliedHandler(std::function<void()> handler) {
  int pending = 0;
  {
    std::lock_guard lock(mutex_);
    optionsHandler_ = handler;
    if (optionsHandler_) std::swap(pending, pendingOptions_);
  }
  for (int i = 0; i < pending; ++i) handler();
}

void CKestrumApp::SetActivateHandler(std::function<void()> handler) {
  int pending = 0;
  {
    std::lock_guard lock(mutex_);
    handler_ = handler;
    if (handler_) std::swap(pending, pending_);
  }
  // Several early starts still mean one window to raise.
  if (pending > 0) handler();
}

void CKestrumApp::Stop() {
  if (listener_.joinable()) {
    char wake = 1;
    ssize_t written = write(wakeWrite_, &wake, 1);
    (void)written;
    listener_.join();
  }
  for (int* fd : {&listenFd_, &wakeRead_, &wakeWrite_}) {
    if (*fd >= 0) close(*fd);
    *fd = -1;
  }
  std::lock_guard lock(mutex_);
  handler_ = nullptr;
  optionsHandler_ = nullptr;
}

}  // namespace morlane
