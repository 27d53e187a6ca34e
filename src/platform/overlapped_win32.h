#pragma once

// One overlapped transfer on a Windows device handle, held so that nothing the driver may
// still write into is freed or reused while the transfer is in its hands.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <cstdint>
#include <memory>
#include <vector>

namespace morlane {

// How long a cancelled transfer is given to come back from the driver. One that takes
// longer is the driver's for good (a port with no hardware behind it, a hung driver).
constexpr DWORD kCancelSettleMs = 500;

// The OVERLAPPED, the bytes, the event and the event mask of one transfer: everything the
// driver writes into until it hands the transfer back.
struct OverlappedOp {
  OVERLAPPED overlapped{};
  HANDLE event = nullptr;
  std::vector<uint8_t> bytes;
  DWORD mask = 0;
  // Cancelled, yet not handed back: the driver may still write into it.
  bool stuck = false;

  OverlappedOp() : event(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}
  OverlappedOp(const OverlappedOp&) = delete;
  OverlappedOp& operator=(const OverlappedOp&) = delete;
  ~OverlappedOp() {
    if (event) CloseHandle(event);
  }

  bool Usable() const { return event != nullptr; }

  // Readies it for the next transfer. Manual-reset event: both the bounded wait and the
  // collection of the result look at it.
  OVERLAPPED* Arm() {
    overlapped = OVERLAPPED{};
    overlapped.hEvent = event;
    ResetEvent(event);
    return &overlapped;
  }
};

struct OpEnd {
  // The driver handed the transfer back complete; moved is its count.
  bool completed = false;
  // The transfer had not ended within its wait and was cancelled.
  bool timedOut = false;
  // Cancelled but still in the driver's hands: op must be kept as it is.
  bool stuck = false;
  // The bytes moved, those before a cancel included.
  DWORD moved = 0;
  // Why it ended short, when it did.
  DWORD error = 0;
};

// Waits at most waitMs for the transfer started on op. One still running then is
// cancelled and given kCancelSettleMs more to come back; every wait here is bounded, and
// a transfer that does not come back is marked stuck rather than waited for.
inline OpEnd AwaitOp(HANDLE file, OverlappedOp& op, DWORD waitMs) {
  OpEnd end;
  if (WaitForSingleObject(op.event, waitMs) != WAIT_OBJECT_0) {
    end.timedOut = true;
    CancelIoEx(file, &op.overlapped);
    WaitForSingleObject(op.event, kCancelSettleMs);
  }
  if (GetOverlappedResult(file, &op.overlapped, &end.moved, FALSE)) {
    end.completed = true;
    return end;
  }
  end.error = GetLastError();
  if (end.error == ERROR_IO_INCOMPLETE) {
    end.stuck = true;
    op.stuck = true;
    end.moved = 0;
    return end;
  }
  end.moved = static_cast<DWORD>(op.overlapped.InternalHigh);
  return end;
}

// For the owner about to close file. A stuck transfer is cancelled once more and given a
// last bounded wait; if the driver still holds it, its memory is deliberately never freed
// (a few hundred bytes for a port that broke this way), since the driver may write into
// the OVERLAPPED, the bytes or signal the event at any later time.
inline void LetGo(HANDLE file, std::unique_ptr<OverlappedOp>& op) {
  if (!op || !op->stuck) return;
  CancelIoEx(file, &op->overlapped);
  WaitForSingleObject(op->event, kCancelSettleMs);
  DWORD ignored = 0;
  if (!GetOverlappedResult(file, &op->overlapped, &ignored, FALSE) &&
      GetLastError() == ERROR_IO_INCOMPLETE) {
    static_cast<void>(op.release());
  }
}

}  // namespace morlane
