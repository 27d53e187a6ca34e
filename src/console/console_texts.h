#pragma once

#include <string_view>

namespace morlane::console_text {

// The console's log texts, letter for letter as service staff know them from earlier tools.
inline constexpr std::string_view kOpenDeviceFirst = "Please open device first!";
inline constexpr std::string_view kSendMcuCommand = "Send MCU command";
inline constexpr std::string_view kWriteReportError = "Write report error";
inline constexpr std::string_view kReadError = "Read Error.";
inline constexpr std::string_view kBeginAutoSend = "Begin Auto Send MCU command";
inline constexpr std::string_view kStopAutoSend = "Stop auto send MCU command";
inline constexpr std::string_view kInAutoThread = "Send MCU command in auto thread";
// The workers' own farewells and the serial worker's "nothing arrived" differ from the
// other texts in spelling and case; scripts match them as they are.
inline constexpr std::string_view kHidWorkerExit = "The auto send command Eixt!";
inline constexpr std::string_view kSerialWorkerExit = "Stop auto send command!";
inline constexpr std::string_view kSerialNothingReceived = "Write Report Error";

}  // namespace morlane::console_text
