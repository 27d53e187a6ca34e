#pragma once

#include <string_view>

namespace morlane {

// Two hexadecimal characters (either case) as a byte. Anything else, a pair cut short
// included, is 0: S-record files are taken as they are, without complaint.
int HexByte(std::string_view text);

}  // namespace morlane
