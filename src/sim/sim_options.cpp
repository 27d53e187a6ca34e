#include "sim/sim_options.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <vector>

namespace morlane::sim {

namespace {

struct Switch {
  const char* name;
  bool takesNumber;
  const char* text;
  std::function<void(SimFaults&, int)> apply;
};

// In the order --help lists them.
const std::vector<Switch>& Switches() {
  static const std::vector<Switch> kSwitches = {
      {"--silent", false, "Answer nothing at all, on either side.",
       [](SimFaults& f, int) { f.silent = true; }},
      {"--taken-out", false,
       "Start out of the fixture (nothing arrives, nothing answers); the lines \"out\" and "
       "\"in\" on standard input take the unit out and put it back.",
       [](SimFaults& f, int) { f.takenOut = true; }},
      {"--answer-delay-ms", true, "Wait N milliseconds before each service answer.",
       [](SimFaults& f, int n) { f.answerDelayMs = n; }},
      {"--reply-delay-ms", true,
       "Wait N milliseconds before each bootloader answer to a command and each MCU updater "
       "reply.",
       [](SimFaults& f, int n) { f.replyDelayMs = n; }},
      {"--no-selection-echo", false, "Do not echo the CPU selection.",
       [](SimFaults& f, int) { f.noSelectionEcho = true; }},
      {"--no-autobaud-echo", false, "The bootloaders do not echo the autobaud byte.",
       [](SimFaults& f, int) { f.noAutobaudEcho = true; }},
      {"--refuse-erase", false, "The bootloaders refuse to erase.",
       [](SimFaults& f, int) { f.refuseErase = true; }},
      {"--drop-acks-after", true,
       "Carry out the bootloader commands after the N-th but lose their answers.",
       [](SimFaults& f, int n) { f.dropAcksAfterFrames = n; }},
      {"--corrupt-result-frame", true, "Give the N-th bootloader command's result a wrong CRC.",
       [](SimFaults& f, int n) { f.corruptResultOfFrame = n; }},
      {"--verify-mismatch", false, "Fail the verification of the flash.",
       [](SimFaults& f, int) { f.verifyMismatch = true; }},
      {"--line-gone-after", true, "Let the line go away at the program frame after the N-th.",
       [](SimFaults& f, int n) { f.lineGoneAfterProgramFrames = n; }},
      {"--mcu-silent", false, "The MCU updater over USB answers nothing.",
       [](SimFaults& f, int) { f.mcuSilent = true; }},
      {"--mcu-top-bit", false, "The MCU updater sets the top bit of its replies.",
       [](SimFaults& f, int) { f.mcuTopBitReplies = true; }},
      {"--mcu-error-after", true, "The MCU updater answers with an error code after N data blocks.",
       [](SimFaults& f, int n) { f.mcuErrorAfterBlocks = n; }},
      {"--mcu-size-07", false, "The MCU updater answers the image size with 07.",
       [](SimFaults& f, int) { f.mcuSizeAnsweredWith07 = true; }},
  };
  return kSwitches;
}

const Switch* FindSwitch(const std::string& name) {
  for (const Switch& entry : Switches()) {
    if (name == entry.name) return &entry;
  }
  return nullptr;
}

}  // namespace

OptionsOutcome ApplyOptions(int argc, char** argv, SimFaults& faults, std::string* error) {
  bool help = false, version = false;
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    if (argument == "-h" || argument == "--help") {
      help = true;
      continue;
    }
    if (argument == "--version") {
      version = true;
      continue;
    }
    const Switch* entry = FindSwitch(argument);
    if (!entry) {
      *error = "unknown option " + argument;
      return OptionsOutcome::Usage;
    }
    int number = 0;
    if (entry->takesNumber) {
      if (i + 1 >= argc) {
        *error = argument + " needs a number";
        return OptionsOutcome::Usage;
      }
      char* end = nullptr;
      long value = std::strtol(argv[++i], &end, 10);
      if (!end || *end != '\0' || value < 0 || value > 1000000) {
        *error = std::string("bad number ") + argv[i];
        return OptionsOutcome::Usage;
      }
      number = static_cast<int>(value);
    }
    entry->apply(faults, number);
  }
  // Help and version win over the switches, wherever they stand.
  if (help) return OptionsOutcome::Help;
  if (version) return OptionsOutcome::Version;
  return OptionsOutcome::Run;
}

bool ApplyFaultSwitch(const std::string& text, SimFaults& faults, std::string* error) {
  std::string name = text;
  std::string value;
  if (size_t equals = name.find('='); equals != std::string::npos) {
    value = name.substr(equals + 1);
    name.resize(equals);
  }
  // A switch's name is taken in any case, as the command line's option values are.
  for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  std::vector<std::string> words = {"morlane-unit-sim", "--" + name};
  if (!value.empty()) words.push_back(value);
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  std::string why;
  // Help and version are no fault switches.
  if (ApplyOptions(static_cast<int>(argv.size()), argv.data(), faults, &why) !=
      OptionsOutcome::Run) {
    *error = why.empty() ? "not a fault switch" : why;
    return false;
  }
  return true;
}

std::vector<std::string> FaultSwitchNames() {
  std::vector<std::string> names;
  for (const Switch& entry : Switches()) {
    names.push_back(std::string(entry.name + 2) + (entry.takesNumber ? "=N" : ""));
  }
  return names;
}

std::vector<HelpEntry> OptionHelpEntries() {
  std::vector<HelpEntry> entries = {{"-h, --help", "", "Show this help and end."},
                                    {"--version", "", "Show the version and end."}};
  for (const Switch& entry : Switches()) {
    entries.push_back({entry.name, entry.takesNumber ? "N" : "", entry.text});
  }
  return entries;
}

std::string HelpText() {
  return FormatHelp("morlane-unit-sim [options]",
                    "The simulated unit on a pseudo-terminal: prints the terminal's path, then "
                    "serves it\nuntil interrupted. The options make it misbehave on purpose.",
                    OptionHelpEntries());
}

std::string VersionText() {
  return std::string("morlane-unit-sim ") + MORLANE_VERSION;
}

void ReportOnExit(SimUnit& unit) {
  for (char cpu : {'M', 'S'}) {
    CpuFlash flash = unit.FlashSnapshot(cpu);
    std::fprintf(stderr,
                 "cpu %c: erased %d times, %d program frames, closed %s, digest %08x, "
                 "%zu protocol errors\n",
                 cpu, flash.eraseCount, flash.programFrames, flash.closed ? "yes" : "no",
                 FlashDigest(flash.words), flash.errors.size());
    for (const std::string& error : flash.errors) {
      std::fprintf(stderr, "cpu %c: refused: %s\n", cpu, error.c_str());
    }
  }
}

}  // namespace morlane::sim
