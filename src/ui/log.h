#pragma once

#include <string>
#include <string_view>

namespace morlane {

class Window;

// Dash lines that frame each operation's messages.
inline constexpr std::string_view kDash36 = "------------------------------------";
inline constexpr std::string_view kDash38 = "--------------------------------------";

// Appends one line at the end of the log list 1005 and selects it. On the window thread
// it runs at once; from any other thread it is carried out by the window thread.
void AppendLogLine(Window& window, std::string_view text);

// printf-style formatting for the log texts that carry a number or a name.
std::string FormatText(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace morlane
