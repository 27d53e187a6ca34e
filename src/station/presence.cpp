#include "station/presence.h"

#include <chrono>
#include <string>

namespace morlane {

namespace {
// Bytes enough for the longest status answer; more is no answer of the unit's.
constexpr size_t kLongestAnswer = 256;
}  // namespace

bool UnitAnswers(SerialPortFactory& ports, int comNumber, int answerMs) {
  std::unique_ptr<SerialPort> port = ports.Open(comNumber, nullptr);
  if (!port || !port->SetLine(9600)) return false;
  // Whatever a run before left on the line is not this answer.
  uint8_t drain[64];
  while (port->QueuedBytes() > 0 && port->Read(drain, sizeof drain) > 0) {
  }
  static constexpr uint8_t kQuery[] = {'Q', '1', '\r'};
  if (port->Write(kQuery, sizeof kQuery, answerMs) != static_cast<int>(sizeof kQuery)) {
    return false;
  }
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(answerMs);
  std::string answer;
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                          end - std::chrono::steady_clock::now())
                          .count();
    if (left <= 0 || !port->WaitReadable(static_cast<int>(left))) return false;
    uint8_t buffer[64];
    const int n = port->Read(buffer, sizeof buffer);
    if (n < 0) return false;
    answer.append(reinterpret_cast<const char*>(buffer), static_cast<size_t>(n));
    if (answer.empty()) continue;
    if (answer.size() > kLongestAnswer || answer[0] != '(') return false;
    if (answer.back() == '\r') return true;
  }
}

}  // namespace morlane
