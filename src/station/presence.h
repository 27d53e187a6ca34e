#pragma once

#include <memory>

#include "platform/serial_port.h"

namespace morlane {

enum class Presence {
  Answered,  // a unit sits on the port
  Silent,    // nothing, or nothing a unit says
  PortLost,  // the port failed: open it again before the next ask
};

// Whether a unit sits on the port (open at 9600 baud): the service command "Q1\r",
// answered within answerMs. An answer is what the unit's status commands give, a line that
// begins with "(" and ends with a carriage return: line noise or a loop-back is not a unit.
Presence AskUnit(SerialPort& port, int answerMs);

// The port a slot asks its unit on, kept open between the asks: an adapter sets its
// control lines at every open, and a slot that opened its port each second would toggle
// them each second at a unit that may be waiting in its fixture. Closed before the unit's
// run opens the port for itself.
class PresenceProbe {
 public:
  PresenceProbe(SerialPortFactory& ports, int comNumber) : ports_(ports), comNumber_(comNumber) {}

  // A port that cannot be opened has no unit on it; it is tried again at the next ask.
  bool UnitAnswers(int answerMs);
  void Close() { port_.reset(); }
  // Asks on a port already open (the station's check at start), not opening it once more.
  void Adopt(std::unique_ptr<SerialPort> port) {
    port_ = std::move(port);
    if (port_ && !port_->SetLine(9600)) port_.reset();
  }

 private:
  SerialPortFactory& ports_;
  int comNumber_;
  std::unique_ptr<SerialPort> port_;
};

}  // namespace morlane
