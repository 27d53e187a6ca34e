#pragma once

// Synthetic runs of a line, for the benchmarks and the dashboard's picture: as stations of
// a line would keep them, with every fact a record has. Deterministic for a given seed.

#include <cstdint>
#include <ctime>
#include <random>
#include <string>

#include "records/run_record.h"

namespace morlane::sample {

inline std::string IsoUtc(int64_t ms) {
  const time_t seconds = static_cast<time_t>(ms / 1000);
  std::tm parts{};
#ifdef _WIN32
  gmtime_s(&parts, &seconds);
#else
  gmtime_r(&seconds, &parts);
#endif
  char text[40];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S+00:00", &parts);
  return text;
}

inline std::string StationName(int n, int stations) {
  return "line1-st" + std::to_string(n % stations + 1);
}

// One CPU's image of a run that failed at failedStep ("" when it passed): the slave's image
// is the one that fails.
inline ImageRecord SampleImage(const char* cpu, const std::string& failedStep) {
  ImageRecord image;
  image.file = std::string("/srv/images/") + cpu + ".bin";
  image.sha256 = std::string(64, cpu[0] == 'm' ? 'a' : 'b');
  image.bytes = 131072;
  image.cpu = cpu;
  image.result = !failedStep.empty() && cpu[0] == 's' ? "fail" : "pass";
  image.step = image.result == "fail" ? failedStep : "";
  image.closing = "answered";
  image.seconds = {{"select", 0.16}, {"connect", 2.2}, {"erase", 1.5},
                   {"burn", 24.0},   {"verify", 1.1},  {"close", 0.2}};
  image.frames = 580;
  return image;
}

// Run n of count, their starts spread evenly from fromMs to toMs over `stations` stations of
// four slots. About one in 25 fails, at the erase mostly, at the connection or the verify
// now and then, and its unit comes again; a run takes 50 to 70 s.
inline RunRecord SampleRun(int n, int count, int64_t fromMs, int64_t toMs, int stations,
                           std::mt19937& random) {
  static const char* const kSteps[] = {"erase", "erase", "connect", "verify", "burn", "erase"};
  const int64_t start = fromMs + (toMs - fromMs) / count * n;
  const bool failed = random() % 25 == 0;
  RunRecord run;
  run.runId = NewRunId(start) + "-" + std::to_string(n);
  run.station = StationName(n, stations);
  run.slot = std::string(1, static_cast<char>('A' + n / stations % 4));
  run.port = "/dev/ttyUSB" + std::to_string(n / stations % 4);
  run.unitId = "SN" + std::to_string(100000 + (failed ? n : n - (n % 25 == 1 ? 1 : 0)));
  run.operatorName = "Ana";
  run.procedure = "auto";
  run.toolVersion = "1.0";
  run.startedMs = start;
  run.endedMs = start + 50000 + random() % 20000;
  run.started = IsoUtc(run.startedMs);
  run.ended = IsoUtc(run.endedMs);
  run.result = failed ? "fail" : "pass";
  run.failedStep = failed ? kSteps[random() % 6] : "";
  // Each step takes its share of the run's time: a slow run is slow in every step.
  const double pace = static_cast<double>(run.endedMs - run.startedMs) / 60000.0;
  for (const char* cpu : {"master", "slave"}) {
    run.images.push_back(SampleImage(cpu, run.failedStep));
    for (auto& [step, seconds] : run.images.back().seconds) seconds *= pace;
  }
  return run;
}

}  // namespace morlane::sample
