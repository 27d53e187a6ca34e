#pragma once

#include "platform/serial_port.h"

namespace morlane {

// Whether a unit sits on COM n of ports: the service command "Q1\r" at 9600 baud, answered
// within answerMs. An answer is what the unit's status commands give, a line that begins
// with "(" and ends with a carriage return: line noise or a loop-back is not a unit. A port
// that cannot be opened has no unit on it.
bool UnitAnswers(SerialPortFactory& ports, int comNumber, int answerMs);

}  // namespace morlane
