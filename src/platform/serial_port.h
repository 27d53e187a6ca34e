#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace morlane {

// Why a port could not be opened; `ports` and the tests tell these apart.
enum class PortOpenError { None, NotFound, Busy, PermissionDenied, Unconfigurable, Other };

const char* PortOpenErrorText(PortOpenError error);

// One open serial device, raw 8N1. Every call returns at once or within its own
// time-out; a device that has gone away makes calls fail instead of blocking.
class SerialPort {
 public:
  virtual ~SerialPort() = default;
  // Applies the baud rate with 8 data bits, no parity, one stop bit; false if refused.
  virtual bool SetLine(int baud) = 0;
  // Bytes queued in the input buffer, or -1 when the device has failed.
  virtual int QueuedBytes() = 0;
  // Reads at most n bytes that are already queued; 0 when none, -1 on failure.
  virtual int Read(uint8_t* buffer, int n) = 0;
  // Hands the bytes to the driver, waiting at most timeoutMs for room; returns the count
  // handed over, -1 on failure.
  virtual int Write(const uint8_t* data, int n, int timeoutMs) = 0;
  // Waits at most timeoutMs for input; true when bytes are queued.
  virtual bool WaitReadable(int timeoutMs) = 0;
};

// Opens COM n (1-based) for exclusive use.
class SerialPortFactory {
 public:
  virtual ~SerialPortFactory() = default;
  virtual std::unique_ptr<SerialPort> Open(int comNumber, PortOpenError* error) = 0;
  // The device path behind COM n, empty when the table has no such entry.
  virtual std::string PathOf(int comNumber) const = 0;
  // A COM number beyond the port search's own COM1 to COM32 that this table answers to,
  // so that the search goes on to it (a station's unit on COM45); 0 when there is none.
  virtual int NumberBeyondSearch() const { return 0; }
};

}  // namespace morlane
