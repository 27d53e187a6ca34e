#pragma once

#include <QString>
#include <string>
#include <string_view>

namespace morlane::gui {

// The tool's texts are 8-bit strings. Paths and most texts on this system are UTF-8;
// bytes that are not valid UTF-8 (a unit's answer, say) are shown one character per byte.
QString ToQString(std::string_view text);
std::string FromQString(const QString& text);

// A log line as the list draws and measures it: on one line, with control characters
// such as the "\n" that ends several messages shown as blanks. The line itself keeps them.
QString DisplayText(std::string_view text);

}  // namespace morlane::gui
