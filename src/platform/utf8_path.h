#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace morlane {

// Paths travel through the program as UTF-8 strings. A std::filesystem::path made from a
// plain string (or turned back into one) reads the bytes in the system's narrow code page
// on Windows, which mangles "ü" and cannot hold Chinese names at all; these two go
// through UTF-8 on every system.
std::filesystem::path PathFromUtf8(std::string_view utf8);
std::string PathToUtf8(const std::filesystem::path& path);

}  // namespace morlane
