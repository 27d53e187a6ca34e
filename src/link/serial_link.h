#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/clock.h"
#include "platform/serial_port.h"

namespace morlane {

// The RS232 link to the unit. Bytes come out in the order written; ReadAvailable
// consumes exactly the bytes it returns; nothing is read ahead or buffered here, and
// there is no framing, checksum or retry in this layer.
class CSerialLink {
 public:
  static constexpr int kMaxPort = 32;

  CSerialLink(SerialPortFactory& ports, Clock& clock);
  ~CSerialLink();
  CSerialLink(const CSerialLink&) = delete;
  CSerialLink& operator=(const CSerialLink&) = delete;

  // First COM number from 1 to 32 (or on to the table's number beyond) that can be opened
  // exclusively now; 0 when none can.
  int FindFreePort();
  // 1 when open at baud, 8N1; an open link stays as it is and answers 1.
  int Open(int port, int baud);
  // Always 1.
  int Close();
  // Writes count bytes one at a time, up to 1000 ms each; returns count, 0 when closed.
  int SendBytes(const uint8_t* data, int count);
  // Hands the bytes to the driver and returns 1 at once; 0 only without a port.
  int WriteBytes(const uint8_t* buffer, int count);
  // Reads what is already queued, at most limit bytes; never waits for more.
  int ReadAvailable(uint8_t* buffer, int limit);
  // Whether input is queued now or comes within ms, looked for every few milliseconds;
  // reads nothing. False at once without a port.
  bool WaitForInput(int ms);
  // Reads until a carriage return (kept in the buffer, not counted); 1 when it came
  // within seconds and capacity.
  int ReadLine(uint8_t* buffer, int capacity, int seconds);

  bool IsOpen() const { return open_; }
  int Port() const { return port_; }
  int Baud() const { return baud_; }
  PortOpenError LastOpenError() const { return lastError_; }
  // Whether the port itself failed since it was last opened: a read or write the device
  // refused (the SerialPort's -1: adapter pulled, line hung up), or the port not found
  // when it was opened again. Kept after Close, cleared by the next open.
  bool PortWentAway() const { return gone_; }
  // A new CPU's programming starts with no failure of the port behind it.
  void ForgetFailure() { gone_ = false; }
  // Asks the open port once, without reading or waiting, whether it is still there: a
  // device removed while a step waited for its answer is known only at its next call.
  void CheckPort();
  // The port as the technician gave it: the system's name where it has one ("COM40"),
  // else the device path ("/dev/ttyUSB0").
  std::string PortName() const;

 private:
  SerialPortFactory& ports_;
  Clock& clock_;
  std::unique_ptr<SerialPort> port_handle_;
  bool open_ = false;
  int port_ = 0;
  int baud_ = 0;
  PortOpenError lastError_ = PortOpenError::None;
  bool gone_ = false;

  // Notes a failed device call (-1) and hands its result on.
  int Checked(int result);
};

}  // namespace morlane
