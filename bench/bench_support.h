#pragma once

// What the benchmarks share: the process's resident memory and a typical log line.

#include <unistd.h>

#include <cstdio>
#include <string>

#include "ui/log.h"

namespace morlane::bench {

inline long ResidentKiB() {
  long pages = 0, resident = 0;
  std::FILE* statm = std::fopen("/proc/self/statm", "r");
  if (!statm) return -1;
  if (std::fscanf(statm, "%ld %ld", &pages, &resident) != 2) resident = -1;
  std::fclose(statm);
  return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

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
