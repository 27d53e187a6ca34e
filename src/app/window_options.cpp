#include "app/window_options.h"

namespace morlane {

const std::vector<WindowOption>& WindowOptions() {
  static const std::vector<WindowOption> kOptions = {
      {"h", "help", nullptr, "Show this help and end.", false},
      {nullptr, "version", nullptr, "Show the version and end.", false},
      {nullptr, "simulate", nullptr,
       "Work with the simulated unit (its serial side as COM1, its USB side as the HID device).",
       false},
      {nullptr, "port", "PATH", "Serial device for the next COM number; repeatable.", false},
      {nullptr, "service", nullptr,
       "Start with the service view: the command console, the command test and the USB "
       "firmware controls in a panel beside the log (the window's menu turns it on and off).",
       false},
      {nullptr, "station", "PROFILE",
       "Open a production station's view instead of the service window: a tile per slot of "
       "the station profile (TOML), a scan field, the shift's counters and the last runs.",
       false},
      {nullptr, "choose-station", nullptr,
       "Ask for a station profile with a file dialog, then open its station's view as "
       "--station does (the desktop's \"Morlane Station\").",
       false},
      {nullptr, "simulate-units", "N",
       "With --station: run the station's slots on N simulated units, unit n on slot n.", false},
      {nullptr, "events", "FILE",
       "With --station: every slot's typed events as NDJSON to FILE, as morlane-cli writes "
       "them.",
       false},
      {nullptr, "operator", "NAME",
       "With --station: the operator of the runs, until a badge scan names another.", false},
      {nullptr, "screenshot", "FILE", "Save the shown window as a picture and end.", true},
      {nullptr, "screenshot-delay-ms", "MS",
       "How long after the window is shown the picture is taken (default 500).", true},
      {nullptr, "scan", "LINE",
       "With --station: a line typed into the scan field at the start, as a scanner types "
       "it; repeatable.",
       true},
      {nullptr, "screenshot-port-list", nullptr,
       "With --screenshot: the port box's list dropped down in the picture (Windows).", true},
      {nullptr, "screenshot-maximised", nullptr,
       "With --screenshot: the window maximised in the picture (Windows).", true},
      {nullptr, "instance-tag", "TAG", "Single-instance group of this start.", true},
      {nullptr, "simulate-fault", "SWITCH[=V]",
       "Give the simulated unit one of its fault switches (as morlane-cli takes them); "
       "repeatable.",
       true},
  };
  return kOptions;
}

std::vector<HelpEntry> WindowHelpEntries() {
  std::vector<HelpEntry> entries;
  for (const WindowOption& option : WindowOptions()) {
    if (option.hidden) continue;
    std::string names = option.shortName ? std::string("-") + option.shortName + ", " : "";
    names += std::string("--") + option.longName;
    entries.push_back({names, option.value ? option.value : "", option.text});
  }
  return entries;
}

std::string WindowHelpText() {
  return FormatHelp("morlane [options]",
                    "Firmware programming and service of the power-conversion unit, in one window.",
                    WindowHelpEntries());
}

std::string WindowVersionText() {
  return std::string("morlane ") + MORLANE_VERSION;
}

}  // namespace morlane
