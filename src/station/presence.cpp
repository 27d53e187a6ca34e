#include "station/presence.h"

#include <chrono>
#include <string>

namespace morlane {

namespace {
// Bytes enough for the longest status answer; more is no answer of the unit's.
constexpr size_t kLongestAnswer = 256;
}  // namespace

Presence AskUnit(SerialPort& port, int answerMs) {
  // Whatever a run before left on the line is not this answer.
  uint8_t drain[64];
  while (port.QueuedBytes() > 0) {
    const int n = port.Read(drain, sizeof drain);
    if (n < 0) return Presence::PortLost;
    if (n == 0) break;
  }
  static constexpr uint8_t kQuery[] = {'Q', '1', '\r'};
  if (port.Write(kQuery, sizeof kQuery, answerMs) != static_cast<int>(sizeof kQuery)) {
    return Presence::PortLost;
  }
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(answerMs);
  std::string answer;
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                          end - std::chrono::steady_clock::now())
                          .count();
    if (left <= 0 || !port.WaitReadable(static_cast<int>(left))) return Presence::Silent;
    uint8_t buffer[64];
    const int n = port.Read(buffer, sizeof buffer);
    if (n < 0) return Presence::PortLost;
    answer.append(reinterpret_cast<const char*>(buffer), static_cast<size_t>(n));
    if (answer.empty()) continue;
    if (answer.size() > kLongestAnswer || answer[0] != '(') return Presence::Silent;
    if (answer.back() == '\r') return Presence::Answered;
  }
}

bool PresenceProbe::UnitAnswers(int answerMs) {
  if (!port_) {
    port_ = ports_.Open(comNumber_, nullptr);
    if (port_ && !port_->SetLine(9600)) port_.reset();
    if (!port_) return false;
  }
  const Presence presence = AskUnit(*port_, answerMs);
  if (presence == Presence::PortLost) port_.reset();
  return presence == Presence::Answered;
}

}  // namespace morlane
