// morlane-sample-shift DIR [RUNS] [HOURS] [STATIONS]: keeps in the record store at DIR
// (made when missing) RUNS synthetic runs (default 1500) from STATIONS stations (default 4)
// over the last HOURS hours (default 10), as a line's past shift for a demonstration of the
// dashboard: `records push` sends them to a line's database. Nothing of a real unit.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "records/record_store.h"
#include "sample_runs.h"

int main(int argc, char** argv) {
  if (argc < 2 || argc > 5) {
    std::fprintf(stderr, "usage: morlane-sample-shift DIR [RUNS] [HOURS] [STATIONS]\n");
    return 2;
  }
  const int runs = argc > 2 ? std::atoi(argv[2]) : 1500;
  const int hours = argc > 3 ? std::atoi(argv[3]) : 10;
  const int stations = argc > 4 ? std::atoi(argv[4]) : 4;
  if (runs < 1 || hours < 1 || stations < 1) {
    std::fprintf(stderr, "morlane-sample-shift: RUNS, HOURS and STATIONS are counts above 0\n");
    return 2;
  }
  std::string error;
  std::unique_ptr<morlane::RecordStore> store =
      morlane::RecordStore::Open(argv[1], morlane::RecordStore::Mode::Write, &error);
  if (!store) {
    std::fprintf(stderr, "morlane-sample-shift: %s\n", error.c_str());
    return 1;
  }
  const int64_t now = std::chrono::duration_cast<std::chrono::milliseconds>(
                          std::chrono::system_clock::now().time_since_epoch())
                          .count();
  std::mt19937 random(11);
  std::vector<morlane::RunRecord> shift;
  for (int n = 0; n < runs; ++n) {
    shift.push_back(morlane::sample::SampleRun(n, runs, now - int64_t{hours} * 3600000,
                                               now - 120000, stations, random));
  }
  if (!store->ImportRuns(shift, &error)) {
    std::fprintf(stderr, "morlane-sample-shift: %s\n", error.c_str());
    return 1;
  }
  std::printf("%d runs from %d stations over the last %d hours in %s\n", runs, stations, hours,
              argv[1]);
  return 0;
}
