#include "platform/folder_lock.h"

#include <cctype>

namespace morlane {

std::string HolderOfLockText(const std::string& text) {
  // The first line: "PID HOST"; anything else is a holder that did not say who it is.
  std::string line = text.substr(0, text.find('\n'));
  if (!line.empty() && line.back() == '\r') line.pop_back();
  const size_t space = line.find(' ');
  if (space == std::string::npos || space == 0 || space + 1 >= line.size()) {
    return "another program";
  }
  for (size_t i = 0; i < space; ++i) {
    if (!std::isdigit(static_cast<unsigned char>(line[i]))) return "another program";
  }
  std::string host = line.substr(space + 1);
  for (char& c : host) {
    if (static_cast<unsigned char>(c) < 0x20) c = '?';
  }
  return "process " + line.substr(0, space) + " on " + host;
}

}  // namespace morlane
