// A production station on simulated units: gangs of 1, 4 and 16 units, each on its own
// pseudo-terminal, programming the same master and slave images with "Automatic". Sets
// each gang's wall time against one unit's, measured in the same run, and gives the
// tool's CPU time per unit (the units' own threads of the simulated unit not counted).
//
// Target: 16 units within 5 % of one unit's wall time.
#include <time.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "flash/test_image_maker.h"
#include "sim/host_platform.h"
#include "station/gang_unit.h"

namespace {

using namespace morlane;

// An image of sections words each, the sections 0x1000 words apart.
void WriteImage(const std::string& path, int sections, int words, uint16_t seed) {
  std::vector<test::ImageSection> layout;
  for (int s = 0; s < sections; ++s) {
    layout.push_back(
        {static_cast<uint32_t>(s * 0x1000), test::Words(static_cast<size_t>(words), seed)});
  }
  std::vector<uint8_t> out = test::MakeInverterImage(layout);
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(out.data()), static_cast<std::streamsize>(out.size()));
}

double ThreadCpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

struct GangFigures {
  double wallSeconds = 0;
  double cpuSecondsPerUnit = 0;
  int passed = 0;
};

GangFigures RunGang(int units, const std::string& dir, const std::string& records) {
  sim::HostPlatform platform;
  std::string error;
  GangFigures figures;
  if (!platform.StartUnits(units, {}, &error)) {
    std::fprintf(stderr, "gang_bench: %s\n", error.c_str());
    return figures;
  }
  std::unique_ptr<RecordStore> store = RecordStore::Open(records, RecordStore::Mode::Write, &error);
  if (!store) {
    std::fprintf(stderr, "gang_bench: %s\n", error.c_str());
    return figures;
  }
  const StationIdentity identity{"bench", std::nullopt};
  GangControl control;
  std::vector<std::unique_ptr<GangUnit>> gang;
  for (const StationPort& port : NamedPorts(platform.Ports())) {
    gang.push_back(std::make_unique<GangUnit>(port, platform.Ports(), control));
  }
  std::vector<double> cpu(static_cast<size_t>(units));
  std::atomic<int> passed{0};
  const auto start = std::chrono::steady_clock::now();
  std::vector<std::thread> threads;
  for (int i = 0; i < units; ++i) {
    threads.emplace_back([&, i] {
      const double before = ThreadCpuSeconds();
      if (gang[static_cast<size_t>(i)]->Run(GangJob{.procedure = "auto"}, dir, *store, identity))
        ++passed;
      cpu[static_cast<size_t>(i)] = ThreadCpuSeconds() - before;
    });
  }
  for (std::thread& thread : threads) thread.join();
  figures.wallSeconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  double total = 0;
  for (double seconds : cpu) total += seconds;
  figures.cpuSecondsPerUnit = total / units;
  figures.passed = passed;
  return figures;
}

}  // namespace

int main() {
  const std::filesystem::path work =
      std::filesystem::temp_directory_path() / ("gang_bench_" + std::to_string(getpid()));
  std::filesystem::create_directories(work / "records");
  WriteImage((work / "Master.bin").string(), 2, 500, 0x100);
  WriteImage((work / "Slave.bin").string(), 1, 400, 0x900);

  double single = 0;
  for (int units : {1, 4, 16}) {
    GangFigures f = RunGang(units, work.string(), (work / "records").string());
    if (units == 1) single = f.wallSeconds;
    std::printf(
        "gang of %2d: %d passed, wall %.2f s (%+.1f %% against one unit), tool CPU %.1f ms "
        "per unit\n",
        units, f.passed, f.wallSeconds, 100.0 * (f.wallSeconds - single) / single,
        f.cpuSecondsPerUnit * 1000.0);
  }
  std::error_code ignored;
  std::filesystem::remove_all(work, ignored);
  return 0;
}
