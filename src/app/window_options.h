#pragma once

#include <string>
#include <vector>

#include "platform/help_text.h"

namespace morlane {

// The window's command line, the same on both systems: each window parses these options
// with its own means, and both print the same --help and --version.
struct WindowOption {
  const char* shortName;  // "h", or nullptr
  const char* longName;   // "help"
  const char* value;      // the value's name, or nullptr for a switch
  const char* text;
  bool hidden;  // for tests and screenshots: left out of the help and the manual
};

const std::vector<WindowOption>& WindowOptions();
// The options shown to a technician, in the window's help and manual page.
std::vector<HelpEntry> WindowHelpEntries();
std::string WindowHelpText();
// "morlane VERSION"
std::string WindowVersionText();

}  // namespace morlane
