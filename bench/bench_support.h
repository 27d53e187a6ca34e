#pragma once

// What the benchmarks share: the process's resident memory and a typical log line.

#include <unistd.h>

#include <cstdio>

#include "bench_lines.h"

namespace morlane::bench {

inline long ResidentKiB() {
  long pages = 0, resident = 0;
  std::FILE* statm = std::fopen("/proc/self/statm", "r");
  if (!statm) return -1;
  if (std::fscanf(statm, "%ld %ld", &pages, &resident) != 2) resident = -1;
  std::fclose(statm);
  return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

}  // namespace morlane::bench
