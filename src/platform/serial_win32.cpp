// The serial port on Windows: one COM handle in raw 8N1, held for exclusive use and opened
// overlapped, so that no call waits longer than its own time-out.
#include "platform/serial_win32.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <vector>

#include "platform/monotonic.h"
#include "platform/overlapped_win32.h"

namespace morlane {

namespace {

// Queue sizes asked of the driver; it may round them or keep its own.
constexpr DWORD kQueueBytes = 10000;
// The driver ends a write it cannot finish after this long, whatever the caller allows.
constexpr DWORD kDriverWriteMs = 5000;
// A read asks only for bytes already queued and so completes at once; this bounds a driver
// that holds it anyway.
constexpr DWORD kReadWaitMs = 2000;
// Step of the wait for input when the driver cannot signal arriving bytes.
constexpr DWORD kPollMs = 2;

DWORD WaitSpan(int64_t ms) {
  return static_cast<DWORD>(std::clamp<int64_t>(ms, 0, INFINITE - 1));
}

struct HandleCloser {
  void operator()(HANDLE handle) const { CloseHandle(handle); }
};
using OwnedHandle = std::unique_ptr<void, HandleCloser>;

// Errors that mean the device itself has gone. A USB adapter pulled while open answers
// with bad-command or access-denied on every later call.
bool DeviceGone(DWORD error) {
  switch (error) {
    case ERROR_BAD_COMMAND:
    case ERROR_ACCESS_DENIED:
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_DEVICE_REMOVED:
    case ERROR_FILE_NOT_FOUND:
    case ERROR_GEN_FAILURE:
    case ERROR_NOT_READY:
    case ERROR_INVALID_HANDLE:
      return true;
    default:
      return false;
  }
}

// An operation that ended before its whole length moved: the bytes moved until then count.
bool EndedEarly(DWORD error) {
  return error == ERROR_OPERATION_ABORTED || error == ERROR_SEM_TIMEOUT || error == ERROR_TIMEOUT;
}

PortOpenError OpenErrorOf(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      return PortOpenError::NotFound;
    // A COM port another program holds refuses with access-denied, not with a sharing
    // violation.
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
      return PortOpenError::Busy;
    default:
      return PortOpenError::Other;
  }
}

class Win32Port : public SerialPort {
 public:
  Win32Port(OwnedHandle port, bool inputEvents)
      : port_(std::move(port)),
        readOp_(std::make_unique<OverlappedOp>()),
        writeOp_(std::make_unique<OverlappedOp>()),
        inputOp_(std::make_unique<OverlappedOp>()),
        inputEvents_(inputEvents) {}

  bool Usable() const { return readOp_->Usable() && writeOp_->Usable() && inputOp_->Usable(); }

  ~Win32Port() override {
    // Every call settles its own operations before it returns; only one the driver would
    // not hand back after its cancel can still be in its hands.
    LetGo(port_.get(), readOp_);
    LetGo(port_.get(), writeOp_);
    LetGo(port_.get(), inputOp_);
  }

  bool SetLine(int baud) override {
    if (failed_ || baud <= 0) return false;
    DCB line{};
    line.DCBlength = sizeof(line);
    if (!GetCommState(port_.get(), &line)) return Failed(GetLastError());
    line.BaudRate = static_cast<DWORD>(baud);
    line.ByteSize = 8;
    line.Parity = NOPARITY;
    line.StopBits = ONESTOPBIT;
    line.fBinary = TRUE;
    line.fParity = FALSE;
    // The bootloader's frames carry 0x11 and 0x13 as data: XON/XOFF would swallow them and
    // stall the line. Nor may CTS or DSR gate it: a cable without handshake wires must do.
    line.fOutX = FALSE;
    line.fInX = FALSE;
    line.fOutxCtsFlow = FALSE;
    line.fOutxDsrFlow = FALSE;
    line.fDsrSensitivity = FALSE;
    // Held asserted, as a POSIX open leaves them: port-powered adapters and isolators live
    // off these lines.
    line.fRtsControl = RTS_CONTROL_ENABLE;
    line.fDtrControl = DTR_CONTROL_ENABLE;
    line.fErrorChar = FALSE;
    line.fNull = FALSE;
    // A framing error would otherwise stop all reads and writes until cleared.
    line.fAbortOnError = FALSE;
    if (!SetCommState(port_.get(), &line)) return Failed(GetLastError());
    // Some drivers accept the call yet keep the old speed; only the state read back shows it.
    DCB applied{};
    applied.DCBlength = sizeof(applied);
    if (!GetCommState(port_.get(), &applied)) return Failed(GetLastError());
    return applied.BaudRate == line.BaudRate && applied.ByteSize == 8 &&
           applied.Parity == NOPARITY && applied.StopBits == ONESTOPBIT && !applied.fOutX &&
           !applied.fInX;
  }

  int QueuedBytes() override {
    if (failed_) return -1;
    COMSTAT status{};
    DWORD lineErrors = 0;
    if (!ClearCommError(port_.get(), &lineErrors, &status)) return Failure(GetLastError());
    return static_cast<int>(std::min<DWORD>(status.cbInQue, INT_MAX));
  }

  int Read(uint8_t* buffer, int n) override {
    if (failed_) return -1;
    if (n <= 0) return 0;
    int queued = QueuedBytes();
    if (queued <= 0) return queued;
    OverlappedOp& op = *readOp_;
    const DWORD want = static_cast<DWORD>(std::min(queued, n));
    op.bytes.resize(want);
    if (!ReadFile(port_.get(), op.bytes.data(), want, nullptr, op.Arm())) {
      const DWORD error = GetLastError();
      if (error != ERROR_IO_PENDING) return Failure(error);
    }
    const int got = Settle(op, kReadWaitMs);
    if (got > 0) std::copy_n(op.bytes.data(), std::min<int>(got, static_cast<int>(want)), buffer);
    return got;
  }

  // A write the driver has not finished within the caller's wait is cancelled; the bytes
  // it moved before the cancel count as handed over, the rest as not sent, so the caller
  // goes on from the true count and no byte of a bootloader frame goes out twice. A driver
  // that does not hand a cancelled write back leaves the port unusable: the write's bytes
  // and OVERLAPPED stay its own, and every later call fails.
  int Write(const uint8_t* data, int n, int timeoutMs) override {
    if (failed_) return -1;
    if (n <= 0) return 0;
    OverlappedOp& op = *writeOp_;
    op.bytes.assign(data, data + n);
    if (!WriteFile(port_.get(), op.bytes.data(), static_cast<DWORD>(n), nullptr, op.Arm())) {
      const DWORD error = GetLastError();
      if (error != ERROR_IO_PENDING) return Failure(error);
    }
    return Settle(op, WaitSpan(timeoutMs));
  }

  bool WaitReadable(int timeoutMs) override {
    int64_t deadline = MonotonicMs() + std::max(timeoutMs, 0);
    bool hadStaleEvent = false;
    while (!failed_) {
      int queued = QueuedBytes();
      if (queued > 0) return true;
      if (queued < 0) break;
      int64_t left = deadline - MonotonicMs();
      if (left <= 0) return false;
      switch (inputEvents_ ? AwaitInput(left) : Awaited::Unavailable) {
        case Awaited::Waited:
          break;
        // Bytes that came and were read since the last wait leave their event behind, and
        // the next wait ends at once on it; a second such end in one call is a driver that
        // reports events without bytes, and gets the poll's pause.
        case Awaited::AtOnce:
          if (hadStaleEvent) Sleep(std::min(WaitSpan(left), kPollMs));
          hadStaleEvent = true;
          break;
        case Awaited::Unavailable:
          Sleep(std::min(WaitSpan(left), kPollMs));
          break;
      }
    }
    // A dead device would make every check fail at once: the caller's loop would spin a
    // core. The wait is served out instead.
    int64_t left = deadline - MonotonicMs();
    if (left > 0) Sleep(WaitSpan(left));
    return false;
  }

 private:
  enum class Awaited { Waited, AtOnce, Unavailable };

  // Waits at most waitMs for the driver to report an arriving byte.
  Awaited AwaitInput(int64_t waitMs) {
    OverlappedOp& op = *inputOp_;
    op.mask = 0;
    if (WaitCommEvent(port_.get(), &op.mask, op.Arm())) return Awaited::AtOnce;
    DWORD error = GetLastError();
    if (error != ERROR_IO_PENDING) {
      Fail(error);
      // A driver without event support answers every later wait the same way.
      inputEvents_ = false;
      return Awaited::Unavailable;
    }
    // A byte that arrived between the caller's queue check and the start of this wait is
    // no event on every driver; with the wait armed, one more look closes that gap.
    const DWORD wait = QueuedBytes() == 0 ? WaitSpan(waitMs) : 0;
    const OpEnd end = AwaitOp(port_.get(), op, wait);
    if (end.stuck) {
      failed_ = true;
      return Awaited::Waited;
    }
    if (end.timedOut) return Awaited::Waited;
    if (end.completed) return (op.mask & EV_RXCHAR) ? Awaited::Waited : Awaited::AtOnce;
    // Nothing here cancelled the wait, yet it ended: some drivers end every wait within
    // milliseconds this way, and re-arming it would spin. Such a port is polled instead.
    Fail(end.error);
    inputEvents_ = false;
    return Awaited::Unavailable;
  }

  // Collects the operation started on op, waiting at most waitMs for it and then
  // cancelling it: its count, the bytes moved before a cancel included; -1 on failure.
  int Settle(OverlappedOp& op, DWORD waitMs) {
    const OpEnd end = AwaitOp(port_.get(), op, waitMs);
    if (end.stuck) {
      failed_ = true;
      return -1;
    }
    if (end.completed || EndedEarly(end.error)) return static_cast<int>(end.moved);
    return Failure(end.error);
  }

  void Fail(DWORD error) {
    if (DeviceGone(error)) failed_ = true;
  }
  bool Failed(DWORD error) {
    Fail(error);
    return false;
  }
  int Failure(DWORD error) {
    Fail(error);
    return -1;
  }

  OwnedHandle port_;
  // One operation of each kind at a time; each keeps its own event and bytes.
  std::unique_ptr<OverlappedOp> readOp_;
  std::unique_ptr<OverlappedOp> writeOp_;
  std::unique_ptr<OverlappedOp> inputOp_;
  bool inputEvents_;
  bool failed_ = false;
};

}  // namespace

std::unique_ptr<SerialPort> OpenWin32Port(const std::string& path, PortOpenError* error) {
  PortOpenError ignored = PortOpenError::None;
  PortOpenError& result = error ? *error : ignored;
  result = PortOpenError::None;
  if (path.empty()) {
    result = PortOpenError::NotFound;
    return nullptr;
  }
  // Share mode 0: while this handle is open, every other opener of the port is refused.
  HANDLE raw = CreateFileA(PortTable::DevicePath(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                           nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
  if (raw == INVALID_HANDLE_VALUE) {
    result = OpenErrorOf(GetLastError());
    return nullptr;
  }
  OwnedHandle port(raw);
  auto refuse = [&](PortOpenError why) -> std::unique_ptr<SerialPort> {
    result = why;
    return nullptr;
  };
  // A handle without line state is no serial device (a disk file, a printer share).
  DCB line{};
  line.DCBlength = sizeof(line);
  if (!GetCommState(raw, &line)) return refuse(PortOpenError::Unconfigurable);
  if (!SetupComm(raw, kQueueBytes, kQueueBytes)) return refuse(PortOpenError::Unconfigurable);
  // Reads return at once with what is queued; waits for input are done by WaitReadable.
  COMMTIMEOUTS timeouts{};
  timeouts.ReadIntervalTimeout = MAXDWORD;
  timeouts.ReadTotalTimeoutMultiplier = 0;
  timeouts.ReadTotalTimeoutConstant = 0;
  timeouts.WriteTotalTimeoutMultiplier = 0;
  timeouts.WriteTotalTimeoutConstant = kDriverWriteMs;
  if (!SetCommTimeouts(raw, &timeouts)) return refuse(PortOpenError::Unconfigurable);
  // Bytes that came in while nobody held the port belong to no one; a freshly opened port
  // starts with empty queues.
  if (!PurgeComm(raw, PURGE_RXCLEAR | PURGE_TXCLEAR | PURGE_RXABORT | PURGE_TXABORT)) {
    return refuse(PortOpenError::Unconfigurable);
  }
  // Without the event, WaitReadable polls the queue instead.
  bool inputEvents = SetCommMask(raw, EV_RXCHAR) != 0;
  auto opened = std::make_unique<Win32Port>(std::move(port), inputEvents);
  if (!opened->Usable()) return refuse(PortOpenError::Other);
  return opened;
}

std::unique_ptr<SerialPort> AdoptWin32Port(void* handle) {
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return nullptr;
  OwnedHandle port(handle);
  // A handle that is no COM device has no comm events: input is polled.
  const bool inputEvents = SetCommMask(handle, EV_RXCHAR) != 0;
  auto adopted = std::make_unique<Win32Port>(std::move(port), inputEvents);
  if (!adopted->Usable()) return nullptr;
  return adopted;
}

}  // namespace morlane
