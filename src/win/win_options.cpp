#include "win/win_options.h"

#include "app/window_options.h"

namespace morlane::win {

namespace {

// Takes the value of "--name VALUE" or "--name=VALUE" at arguments[*index]; false when
// the argument is another option, or the value is missing.
bool ValueOf(const std::string& name, const std::vector<std::string>& arguments, size_t* index,
             std::string* value, bool* missing) {
  const std::string& argument = arguments[*index];
  if (argument == name) {
    if (*index + 1 >= arguments.size()) {
      *missing = true;
      return true;
    }
    *value = arguments[++*index];
    return true;
  }
  if (argument.size() > name.size() && argument.compare(0, name.size(), name) == 0 &&
      argument[name.size()] == '=') {
    *value = argument.substr(name.size() + 1);
    return true;
  }
  return false;
}

}  // namespace

ParseOutcome ParseWinOptions(const std::vector<std::string>& arguments, WinOptions* options,
                             std::string* message) {
  WinOptions parsed;
  bool help = false, version = false;
  for (size_t i = 0; i < arguments.size(); ++i) {
    const std::string argument = arguments[i];
    std::string value;
    bool missing = false;
    std::string* single = nullptr;
    if (argument == "-h" || argument == "--help" || argument == "/?") {
      help = true;
      continue;
    }
    if (argument == "--version") {
      version = true;
      continue;
    }
    if (argument == "--simulate") {
      parsed.simulate = true;
      continue;
    }
    if (argument == "--service") {
      parsed.service = true;
      continue;
    }
    if (argument == "--choose-station") {
      parsed.chooseStation = true;
      continue;
    }
    if (argument == "--screenshot-port-list") {
      parsed.screenshotPortList = true;
      continue;
    }
    if (argument == "--screenshot-maximised") {
      parsed.screenshotMaximised = true;
      continue;
    }
    if (ValueOf("--port", arguments, &i, &value, &missing)) {
      if (!missing && !value.empty()) parsed.ports.push_back(value);
    } else if (ValueOf("--screenshot", arguments, &i, &value, &missing)) {
      single = &parsed.screenshot;
    } else if (ValueOf("--instance-tag", arguments, &i, &value, &missing)) {
      single = &parsed.instanceTag;
    } else if (ValueOf("--station", arguments, &i, &value, &missing)) {
      single = &parsed.station;
    } else if (ValueOf("--events", arguments, &i, &value, &missing)) {
      single = &parsed.events;
    } else if (ValueOf("--operator", arguments, &i, &value, &missing)) {
      single = &parsed.operatorName;
    } else if (ValueOf("--simulate-units", arguments, &i, &value, &missing)) {
      single = &parsed.simulateUnits;
    } else if (ValueOf("--screenshot-delay-ms", arguments, &i, &value, &missing)) {
      single = &parsed.screenshotDelayMs;
    } else if (ValueOf("--scan", arguments, &i, &value, &missing)) {
      if (!missing && !value.empty()) parsed.scans.push_back(value);
    } else if (ValueOf("--simulate-fault", arguments, &i, &value, &missing)) {
      if (!missing && !value.empty()) parsed.simulateFaults.push_back(value);
    } else if (argument.size() > 1 && argument[0] == '-') {
      *message = "unknown option: " + argument;
      return ParseOutcome::Usage;
    } else {
      *message = "unexpected argument: " + argument;
      return ParseOutcome::Usage;
    }
    if (missing || value.empty()) {
      *message = "option " + argument.substr(0, argument.find('=')) + " needs a value";
      return ParseOutcome::Usage;
    }
    if (single) *single = value;
  }
  if (help) return ParseOutcome::Help;
  if (version) return ParseOutcome::Version;
  *options = std::move(parsed);
  return ParseOutcome::Run;
}

bool WindowOptionsGiven(const WinOptions& options) {
  return options.simulate || options.service || !options.ports.empty() ||
         !options.screenshot.empty() || !options.simulateFaults.empty();
}

std::string HelpText() {
  return WindowHelpText();
}

std::string VersionText() {
  return WindowVersionText();
}

}  // namespace morlane::win
