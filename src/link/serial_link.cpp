#include "link/serial_link.h"

#include <algorithm>

#include "platform/port_table.h"
#include "platform/serve_wait.h"

namespace morlane {

namespace {
constexpr int kByteWaitMs = 1000;
constexpr int kWriteWaitMs = 5000;
}  // namespace

CSerialLink::CSerialLink(SerialPortFactory& ports, Clock& clock) : ports_(ports), clock_(clock) {}

CSerialLink::~CSerialLink() {
  Close();
}

int CSerialLink::FindFreePort() {
  const int last = std::max(kMaxPort, ports_.NumberBeyondSearch());
  for (int n = 1; n <= last; ++n) {
    PortOpenError error = PortOpenError::None;
    // Opened and closed again at once: only whether it can be had now counts.
    if (ports_.Open(n, &error)) return n;
  }
  return 0;
}

int CSerialLink::Open(int port, int baud) {
  if (open_) return 1;
  lastError_ = PortOpenError::None;
  std::unique_ptr<SerialPort> handle = ports_.Open(port, &lastError_);
  if (!handle) {
    // The port the session had is not there any more.
    if (lastError_ == PortOpenError::NotFound) gone_ = true;
    return 0;
  }
  if (!handle->SetLine(baud)) {
    lastError_ = PortOpenError::Unconfigurable;
    return 0;
  }
  port_handle_ = std::move(handle);
  open_ = true;
  gone_ = false;
  port_ = port;
  baud_ = baud;
  return 1;
}

int CSerialLink::Checked(int result) {
  if (result < 0) gone_ = true;
  return result;
}

void CSerialLink::CheckPort() {
  if (open_ && port_handle_) Checked(port_handle_->QueuedBytes());
}

std::string CSerialLink::PortName() const {
  const std::string path = ports_.PathOf(port_);
  const std::string name = PortTable::SystemName(path);
  return name.empty() ? path : name;
}

int CSerialLink::Close() {
  if (!open_ || !port_handle_) return 1;
  port_handle_.reset();
  open_ = false;
  return 1;
}

int CSerialLink::SendBytes(const uint8_t* data, int count) {
  if (!open_ || !port_handle_) return 0;
  for (int i = 0; i < count; ++i) {
    // A byte the driver does not take within its wait is passed over, as a write that
    // timed out; the protocol notices the loss by the missing answer.
    WaitServing(clock_, kByteWaitMs,
                [this, data, i](int ms) { return Checked(port_handle_->Write(data + i, 1, ms)); });
  }
  return count;
}

int CSerialLink::WriteBytes(const uint8_t* buffer, int count) {
  if (!port_handle_) return 0;
  // What a slice handed over stays handed over; the next slice goes on with the rest.
  int done = 0;
  if (count > 0) {
    WaitServing(clock_, kWriteWaitMs, [this, buffer, count, &done](int ms) {
      int put = Checked(port_handle_->Write(buffer + done, count - done, ms));
      if (put < 0) return -1;
      done += put;
      return done >= count ? 1 : 0;
    });
  }
  return 1;
}

int CSerialLink::ReadAvailable(uint8_t* buffer, int limit) {
  if (!open_ || !port_handle_ || limit <= 0) return 0;
  int queued = Checked(port_handle_->QueuedBytes());
  if (queued <= 0) return 0;
  int n = Checked(port_handle_->Read(buffer, std::min(queued, limit)));
  return n > 0 ? n : 0;
}

bool CSerialLink::WaitForInput(int ms) {
  // Polled rather than waited on with the driver's input event: an event wait that ends
  // unanswered must be cancelled and come back from the driver, and on a loaded Windows
  // host one that did not come back in time cost the port; a look at the queue every few
  // milliseconds risks nothing of the kind, and is done only for input already late.
  constexpr int kInputPollMs = 5;
  const int64_t deadline = clock_.MonotonicMs() + std::max(ms, 0);
  for (;;) {
    if (!open_ || !port_handle_) return false;
    const int queued = Checked(port_handle_->QueuedBytes());
    if (queued != 0) return queued > 0;
    const int64_t left = deadline - clock_.MonotonicMs();
    if (left <= 0) return false;
    clock_.SleepMs(static_cast<int>(std::min<int64_t>(left, kInputPollMs)));
  }
}

int CSerialLink::ReadLine(uint8_t* buffer, int capacity, int seconds) {
  int64_t start = clock_.CalendarSeconds();
  int64_t elapsed = 0;
  int i = 0;
  bool overflow = false;
  while (elapsed < seconds) {
    elapsed = clock_.CalendarSeconds() - start;
    if (i >= capacity) {
      overflow = true;
      break;
    }
    if (ReadAvailable(buffer + i, 1) == 1) {
      if (buffer[i] == 13) break;
      if (++i >= capacity) {
        overflow = true;
        break;
      }
      continue;
    }
    // Instead of spinning, wait on the port for the next byte, at most until the next
    // whole second of the calendar clock could end the loop.
    if (!open_ || !port_handle_) {
      clock_.SleepMs(50);
    } else {
      WaitServing(clock_, 50, [this](int ms) { return port_handle_->WaitReadable(ms) ? 1 : 0; });
    }
  }
  return (elapsed < seconds && !overflow) ? 1 : 0;
}

}  // namespace morlane
