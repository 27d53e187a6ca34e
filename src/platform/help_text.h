#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace morlane {

// One line of a program's option table as --help shows it and the manual page lists it:
// "-h, --help" or "--port", the value's name ("PATH", or empty for a switch) and what it does.
struct HelpEntry {
  std::string names;
  std::string value;
  std::string text;
};

// The --help text of the programs without a parser of their own, one layout for all:
//
//   Usage: <usage>
//   <about>
//
//   Options:
//     -h, --help           Show this help and end.
//
// with the texts in one column, wrapped to 79 characters.
std::string FormatHelp(std::string_view usage, std::string_view about,
                       const std::vector<HelpEntry>& entries);

}  // namespace morlane
