#include "platform/help_text.h"

#include <algorithm>
#include <sstream>

namespace morlane {

namespace {

constexpr size_t kLineWidth = 79;

}  // namespace

std::string FormatHelp(std::string_view usage, std::string_view about,
                       const std::vector<HelpEntry>& entries) {
  std::string out = "Usage: " + std::string(usage) + "\n" + std::string(about) + "\n\nOptions:\n";
  auto left = [](const HelpEntry& entry) {
    return entry.value.empty() ? entry.names : entry.names + " " + entry.value;
  };
  size_t column = 0;
  for (const HelpEntry& entry : entries) column = std::max(column, left(entry).size());
  column += 2 + 3;  // the indent before, at least three spaces after
  for (const HelpEntry& entry : entries) {
    std::string line = "  " + left(entry);
    line.resize(column, ' ');
    std::istringstream words(entry.text);
    std::string word;
    bool lineHasWord = false;
    while (words >> word) {
      if (lineHasWord && line.size() + 1 + word.size() > kLineWidth) {
        out += line + "\n";
        line.assign(column, ' ');
        lineHasWord = false;
      }
      if (lineHasWord) line += ' ';
      line += word;
      lineHasWord = true;
    }
    out += line + "\n";
  }
  return out;
}

}  // namespace morlane
