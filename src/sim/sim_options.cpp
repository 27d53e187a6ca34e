#include "sim/sim_options.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>

namespace morlane::sim {

namespace {

struct Switch {
  bool takesNumber;
  std::function<void(SimFaults&, int)> apply;
};

const std::map<std::string, Switch>& Switches() {
  static const std::map<std::string, Switch> kSwitches = {
      {"--silent", {false, [](SimFaults& f, int) { f.silent = true; }}},
      {"--answer-delay-ms", {true, [](SimFaults& f, int n) { f.answerDelayMs = n; }}},
      {"--no-selection-echo", {false, [](SimFaults& f, int) { f.noSelectionEcho = true; }}},
      {"--no-autobaud-echo", {false, [](SimFaults& f, int) { f.noAutobaudEcho = true; }}},
      {"--refuse-erase", {false, [](SimFaults& f, int) { f.refuseErase = true; }}},
      {"--drop-acks-after", {true, [](SimFaults& f, int n) { f.dropAcksAfterFrames = n; }}},
      {"--corrupt-result-frame", {true, [](SimFaults& f, int n) { f.corruptResultOfFrame = n; }}},
      {"--verify-mismatch", {false, [](SimFaults& f, int) { f.verifyMismatch = true; }}},
      {"--line-gone-after", {true, [](SimFaults& f, int n) { f.lineGoneAfterProgramFrames = n; }}},
      {"--mcu-silent", {false, [](SimFaults& f, int) { f.mcuSilent = true; }}},
      {"--mcu-top-bit", {false, [](SimFaults& f, int) { f.mcuTopBitReplies = true; }}},
      {"--mcu-error-after", {true, [](SimFaults& f, int n) { f.mcuErrorAfterBlocks = n; }}},
      {"--mcu-size-07", {false, [](SimFaults& f, int) { f.mcuSizeAnsweredWith07 = true; }}},
  };
  return kSwitches;
}

}  // namespace

bool ApplyOptions(int argc, char** argv, SimFaults& faults, std::string* error) {
  for (int i = 1; i < argc; ++i) {
    auto it = Switches().find(argv[i]);
    if (it == Switches().end()) {
      *error = std::string("unknown option ") + argv[i];
      return false;
    }
    int number = 0;
    if (it->second.takesNumber) {
      if (i + 1 >= argc) {
        *error = std::string(argv[i]) + " needs a number";
        return false;
      }
      char* end = nullptr;
      long value = std::strtol(argv[++i], &end, 10);
      if (!end || *end != '\0' || value < 0 || value > 1000000) {
        *error = std::string("bad number ") + argv[i];
        return false;
      }
      number = static_cast<int>(value);
    }
    it->second.apply(faults, number);
  }
  return true;
}

const char* OptionsUsage() {
  return "usage: morlane-unit-sim [--silent] [--answer-delay-ms N] [--no-selection-echo]\n"
         "       [--no-autobaud-echo] [--refuse-erase] [--drop-acks-after N]\n"
         "       [--corrupt-result-frame N] [--verify-mismatch] [--line-gone-after N]\n"
         "       [--mcu-silent] [--mcu-top-bit] [--mcu-error-after N] [--mcu-size-07]\n";
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
