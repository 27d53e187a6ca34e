#pragma once

// A typical log line, for the benchmarks of every system.

#include <string>

#include "ui/log.h"

namespace morlane::bench {

// Lines like a programming run writes them, of varying length.
inline std::string LogLine(int i) {
  switch (i % 4) {
    case 0:
      return FormatText("Burn block %d at 0x%06X OK", i, (i * 256) & 0xFFFFFF);
    case 1:
      return FormatText("%d %%", i % 101);
    case 2:
      return FormatText("Q1 answer: (230.4 229.8 230.1 012 50.1 2.27 34.0 %08d", i);
    default:
      return "------------------------------------";
  }
}

}  // namespace morlane::bench
