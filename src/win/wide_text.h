#pragma once

#include <string>
#include <string_view>

namespace morlane::win {

// The program keeps its texts (log lines, paths, captions) as UTF-8; the window hands them
// to the system in the wide form, so that "ü" and Chinese names show as they are.
std::wstring Wide(std::string_view utf8);
std::string Utf8(std::wstring_view wide);

}  // namespace morlane::win
