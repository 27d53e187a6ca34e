#pragma once

#include <string>

namespace morlane::test {

// Whether this process still holds the file open (the tests' files are touched by no one
// else).
bool FileOpenHere(const std::string& path);

}  // namespace morlane::test
