#pragma once

#include <string>
#include <string_view>

namespace morlane {

// The longest unit id a label carries; anything longer is a scanner gone wrong or a file
// typed in, and would go into every record and line as it stands.
inline constexpr size_t kLongestUnitId = 128;

// Why the text is no unit id, "" when it is one: 1 to 128 characters of printable UTF-8 text
// in any script. Control characters (U+0000 to U+001F, U+007F to U+009F) would reach the
// operator's terminal, the records and the line's database as they stand: an escape
// sequence in a label can clear a screen or retitle a window. The reason never quotes the
// text itself, for the same cause.
std::string UnitIdRefusal(std::string_view text);

}  // namespace morlane
