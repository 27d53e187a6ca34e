// The station's record store at the size of a long-running line: 10^5 runs, as a shift
// after shift of gangs would leave them, and how long the technician's look-ups take
// (`records list --limit 50`, `records yield`, a unit's history), each from a fresh open as
// morlane-cli makes it.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "records/record_report.h"
#include "records/record_store.h"
#include "sample_runs.h"

namespace {

using namespace morlane;

constexpr int kRuns = 100000;
constexpr int kChunk = 10000;

RunRecord SyntheticRun(int n, std::mt19937& random) {
  // A 60 s run every 26 s on average over a month, on four stations of eight slots.
  const int64_t start = 1796083200000 + int64_t{n} * 26000;
  const bool failed = random() % 100 < 4;
  static const char* const kSteps[] = {"connect", "erase", "burn", "verify"};
  RunRecord run;
  run.runId = NewRunId(start) + "-" + std::to_string(n);
  run.station = "line1-st" + std::to_string(n % 4 + 1);
  run.slot = "COM" + std::to_string(n % 8 + 1);
  run.port = "/dev/ttyUSB" + std::to_string(n % 8);
  run.portId = "0403:6001:A5" + std::to_string(n % 8);
  // Most units once, a failed one again a little later.
  run.unitId = "SN" + std::to_string(failed ? n : n - (n % 25 == 1 ? 1 : 0));
  run.procedure = "auto";
  run.toolVersion = "1.0";
  run.startedMs = start;
  run.endedMs = start + 55000 + random() % 10000;
  run.started = "2026-12-" + std::to_string(1 + n / 3400 % 28) + "T08:00:00+01:00";
  run.ended = run.started;
  run.result = failed ? "fail" : "pass";
  run.failedStep = failed ? kSteps[random() % 4] : "";
  for (const char* cpu : {"master", "slave"}) {
    run.images.push_back(sample::SampleImage(cpu, run.failedStep));
  }
  return run;
}

template <typename Look>
double MedianMs(Look look) {
  std::vector<double> times;
  for (int i = 0; i < 7; ++i) {
    const auto start = std::chrono::steady_clock::now();
    look();
    times.push_back(
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
            .count());
  }
  std::sort(times.begin(), times.end());
  return times[times.size() / 2];
}

}  // namespace

int main() {
  const std::filesystem::path folder =
      std::filesystem::temp_directory_path() / ("records_bench_" + std::to_string(getpid()));
  std::string error;
  {
    auto store = RecordStore::Open(folder.string(), RecordStore::Mode::Write, &error);
    if (!store) {
      std::fprintf(stderr, "records_bench: %s\n", error.c_str());
      return 1;
    }
    std::mt19937 random(7);
    const auto start = std::chrono::steady_clock::now();
    for (int first = 0; first < kRuns; first += kChunk) {
      std::vector<RunRecord> runs;
      for (int n = first; n < first + kChunk; ++n) runs.push_back(SyntheticRun(n, random));
      if (!store->ImportRuns(runs, &error)) {
        std::fprintf(stderr, "records_bench: %s\n", error.c_str());
        return 1;
      }
    }
    std::printf("filled %d runs (2 images each) in %.1f s; records.db %.1f MB\n", kRuns,
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(),
                static_cast<double>(std::filesystem::file_size(folder / "records.db")) / 1e6);
  }

  size_t lines = 0;
  const double list = MedianMs([&] {
    auto store = RecordStore::Open(folder.string(), RecordStore::Mode::Read, &error);
    RunFilter filter;
    filter.limit = 50;
    for (const RunRecord& run : store->Summaries(filter, &error)) lines += RunLine(run).size();
  });
  const double listJson = MedianMs([&] {
    auto store = RecordStore::Open(folder.string(), RecordStore::Mode::Read, &error);
    RunFilter filter;
    filter.limit = 50;
    for (const RunRecord& run : store->List(filter, &error)) lines += RunRecordJson(run).size();
  });
  const double yield = MedianMs([&] {
    auto store = RecordStore::Open(folder.string(), RecordStore::Mode::Read, &error);
    lines +=
        YieldTable(ComputeYield(store->YieldRows(RunFilter{}, &error), YieldBy::All), YieldBy::All)
            .size();
  });
  const double yieldByDay = MedianMs([&] {
    auto store = RecordStore::Open(folder.string(), RecordStore::Mode::Read, &error);
    lines +=
        YieldTable(ComputeYield(store->YieldRows(RunFilter{}, &error), YieldBy::Day), YieldBy::Day)
            .size();
  });
  std::vector<YieldRow> rows;
  const double read = MedianMs([&] {
    auto store = RecordStore::Open(folder.string(), RecordStore::Mode::Read, &error);
    rows = store->YieldRows(RunFilter{}, &error);
  });
  const double figures = MedianMs([&] { lines += ComputeYield(rows, YieldBy::All).size(); });
  std::printf("  of which reading %.1f ms, figures %.1f ms\n", read, figures);
  const double unit = MedianMs([&] {
    auto store = RecordStore::Open(folder.string(), RecordStore::Mode::Read, &error);
    RunFilter filter;
    filter.unitId = "SN50025";
    for (const RunRecord& run : store->List(filter, &error)) lines += RunRecordJson(run).size();
  });
  std::printf("records list --limit 50:        %7.1f ms\n", list);
  std::printf("records list --limit 50 --json: %7.1f ms\n", listJson);
  std::printf("records yield:                  %7.1f ms\n", yield);
  std::printf("records yield --by day:         %7.1f ms\n", yieldByDay);
  std::printf("records list --unit ID --json:  %7.1f ms\n", unit);
  std::printf("(%zu bytes printed in all)\n", lines);
  std::filesystem::remove_all(folder);
  return error.empty() ? 0 : 1;
}
