#pragma once

#include <string>
#include <string_view>

namespace morlane {

// A text as one JSON string. Quotes, backslashes and control characters are escaped;
// well-formed UTF-8 (a path such as "prüf_master.bin") is kept as it is, so that a reader
// sees the name the technician typed. A byte that is no part of a well-formed UTF-8
// sequence (an 8-bit log text) becomes \u00XX, its own character in Latin-1, so that the
// output is always valid JSON.
std::string JsonString(std::string_view text);

// The text as valid UTF-8, for a database that takes nothing else: well-formed sequences
// kept, any other byte taken as its own character in Latin-1, a NUL as U+FFFD.
std::string Utf8Text(std::string_view text);

}  // namespace morlane
