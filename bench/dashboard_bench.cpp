// The line's dashboard at the size of a busy line: 10^5 runs from 20 stations over the last
// 30 days, served from a station's store and from a PostgreSQL line database that the
// benchmark starts itself (where the system has a server). For each: how long each API
// answer takes (median of 7 and the slowest), the page drawn in Chromium (where the system
// has it and Selenium), and the server's memory with 50 pages open on it.
//   dashboard_bench [RUNS]     (default 100000)
#include <httplib.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "bench_support.h"
#include "records/line_database.h"
#include "records/live_state.h"
#include "records/record_store.h"
#include "sample_runs.h"
#include "web/dashboard_server.h"

namespace {

using namespace morlane;
using Clock = std::chrono::steady_clock;

constexpr int kStations = 20;
constexpr int kSlots = 4;
constexpr int kPages = 50;
constexpr int64_t kDayMs = 86400000;

int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

using sample::IsoUtc;

std::string StationName(int n) {
  return sample::StationName(n, kStations);
}

std::vector<LiveStation> SyntheticLine() {
  std::vector<LiveStation> line;
  for (int s = 0; s < kStations; ++s) {
    LiveStation station{StationName(s), s % 3, IsoUtc(NowMs()), true, {}};
    for (int n = 0; n < kSlots; ++n) {
      station.slots.push_back(LiveSlot{std::string(1, static_cast<char>('A' + n)),
                                       n % 2 ? "running" : "pass",
                                       "SN" + std::to_string(s * 10 + n),
                                       n % 2 ? "burn master" : "",
                                       40,
                                       IsoUtc(NowMs()),
                                       "Ana",
                                       {std::string(64, 'a'), std::string(64, 'b')}});
    }
    line.push_back(station);
  }
  return line;
}

class FixedSlots : public web::SlotSource {
 public:
  std::vector<LiveStation> Stations() override { return line_; }

 private:
  std::vector<LiveStation> line_ = SyntheticLine();
};

// The API's answers as the page asks for them, and a script's look-ups.
void TimeAnswers(int port, const std::string& someRun) {
  const std::string eightHours = "since=" + IsoUtc(NowMs() - 8 * 3600000).substr(0, 19) + "Z";
  const std::vector<std::string> paths{
      "/api/yield",
      "/api/yield?by=station",
      "/api/yield?by=step",
      "/api/yield?by=hour&since=" + IsoUtc(NowMs() - kDayMs).substr(0, 10),
      "/api/yield?by=station&" + eightHours,
      "/api/yield?by=hour&station=line1-st7&" + eightHours,
      "/api/runs",
      "/api/runs?limit=50&" + eightHours,
      "/api/runs?unit=SN50000",
      "/api/runs?result=fail&station=line1-st3&limit=100",
      "/api/runs/" + someRun,
      "/api/slots",
      "/api/stations"};
  httplib::Client client("127.0.0.1", port);
  client.set_read_timeout(std::chrono::seconds(60));
  // The first answer makes the figures; the pages after it are answered what was made, until
  // a run comes.
  double worst = 0;
  for (const std::string& path : paths) {
    std::vector<double> times;
    size_t bytes = 0;
    int status = 0;
    for (int i = 0; i < 7; ++i) {
      const auto start = Clock::now();
      httplib::Result answer = client.Get(path);
      times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
      status = answer ? answer->status : -1;
      bytes = answer ? answer->body.size() : 0;
    }
    const double first = times[0];
    std::sort(times.begin() + 1, times.end());
    worst = std::max(worst, first);
    std::printf("  %-62s %4d %8zu B  first %7.1f ms  then median %7.1f ms\n",
                path.substr(0, 62).c_str(), status, bytes, first, times[4]);
  }
  std::printf("  every first answer under 200 ms: %s (slowest %.1f ms)\n",
              worst < 200 ? "yes" : "NO", worst);
}

// The page in headless Chromium, from the navigation to its figures and charts drawn.
void TimePage(int port) {
  const std::string script = std::string(MORLANE_SOURCE_DIR) + "/bench/dashboard_page.py";
  const std::string command =
      "/usr/bin/python3 '" + script + "' http://127.0.0.1:" + std::to_string(port) + "/";
  std::FILE* page = popen(command.c_str(), "r");
  if (!page) return;
  char line[512];
  while (std::fgets(line, sizeof line, page)) std::printf("  %s", line);
  pclose(page);
}

// 50 pages open: each has read the page, its figures and its runs, and follows the stream.
void MeasurePages(int port) {
  const long before = bench::ResidentKiB();
  std::atomic<bool> leaving{false};
  std::vector<std::thread> pages;
  for (int i = 0; i < kPages; ++i) {
    pages.emplace_back([port, &leaving] {
      httplib::Client client("127.0.0.1", port);
      client.set_read_timeout(std::chrono::seconds(30));
      for (const char* path : {"/", "/api/yield?by=station", "/api/yield?by=step",
                               "/api/runs?limit=50", "/api/slots", "/api/stations"}) {
        client.Get(path);
      }
      client.Get("/api/stream", [&leaving](const char*, size_t) { return !leaving.load(); });
    });
  }
  std::this_thread::sleep_for(std::chrono::seconds(20));
  const long open = bench::ResidentKiB();
  std::printf("  memory: %ld KiB before, %ld KiB with %d pages open (%+ld KiB)\n", before, open,
              kPages, open - before);
  leaving = true;
  for (std::thread& page : pages) page.join();
}

void Bench(const char* name, RecordSource& source, web::SlotSource& slots,
           const std::string& lineNews, const std::string& someRun) {
  std::printf("%s\n", name);
  web::DashboardSettings settings;
  settings.listen = web::ListenAddress{"127.0.0.1", 0};
  settings.lineNews = lineNews;
  // A stream's keep-alive within the memory measurement's wait: the pages leave in time.
  settings.keepAlive = std::chrono::seconds(5);
  web::DashboardServer server(source, &slots, settings);
  std::string why;
  if (!server.Start(&why)) {
    std::printf("  cannot serve: %s\n", why.c_str());
    return;
  }
  TimeAnswers(server.Port(), someRun);
  TimePage(server.Port());
  MeasurePages(server.Port());
  server.Stop();
}

}  // namespace

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  const int count = argc > 1 ? std::atoi(argv[1]) : 100000;
  if (count < 1) {
    std::fprintf(stderr, "usage: dashboard_bench [RUNS]\n");
    return 2;
  }
  const std::filesystem::path folder =
      std::filesystem::temp_directory_path() / ("dashboard_bench_" + std::to_string(getpid()));
  std::string error;
  std::string someRun;
  {
    auto store = RecordStore::Open((folder / "store").string(), RecordStore::Mode::Write, &error);
    if (!store) {
      std::fprintf(stderr, "dashboard_bench: %s\n", error.c_str());
      return 1;
    }
    std::mt19937 random(7);
    const int64_t now = NowMs();
    std::vector<RunRecord> runs;
    for (int n = 0; n < count; ++n) {
      runs.push_back(sample::SampleRun(n, count, now - 30 * kDayMs, now, kStations, random));
      if (n == count / 2) someRun = runs.back().runId;
      if (runs.size() == 10000 || n + 1 == count) {
        if (!store->ImportRuns(runs, &error)) {
          std::fprintf(stderr, "dashboard_bench: %s\n", error.c_str());
          return 1;
        }
        runs.clear();
      }
    }
  }
  std::printf("%d runs from %d stations over 30 days\n", count, kStations);
  {
    auto store = RecordStore::Open((folder / "store").string(), RecordStore::Mode::Read, &error);
    FixedSlots slots;
    Bench("a station's store (--records)", *store, slots, "", someRun);
  }

  // The line's database, filled from the store as a station's backlog would fill it.
  const std::string pg = std::string(MORLANE_SOURCE_DIR) + "/tests/support/pg_server.sh";
  const std::string port = std::to_string(20000 + getpid() % 20000);
  const std::string dir = (folder / "pg").string();
  if (std::system(("/bin/bash '" + pg + "' start '" + dir + "' " + port).c_str()) != 0) {
    std::printf("the line's database: no PostgreSQL server could be started: skipped\n");
  } else {
    const std::string url = "postgresql://morlane@127.0.0.1:" + port + "/postgres";
    {
      auto store = RecordStore::Open((folder / "store").string(), RecordStore::Mode::Write, &error);
      LineDatabase line(url);
      const auto start = Clock::now();
      Delivery sent = line.SendBacklog(*store);
      std::printf("the line's database filled in %.0f s%s\n",
                  std::chrono::duration<double>(Clock::now() - start).count(),
                  sent.error.empty() ? "" : (": " + sent.error).c_str());
      for (const LiveStation& station : SyntheticLine()) line.ReportLive(station, &error);
    }
    // A line's month of runs has been vacuumed and analysed by the server many times over; a
    // database filled a minute ago has not, and its first reads would set every row's hint
    // bits on the way.
    const bool settled =
        std::system(("psql '" + url + "' -qc 'VACUUM ANALYZE' >/dev/null 2>&1").c_str()) == 0;
    std::printf("the line's database %s\n", settled
                                                ? "vacuumed and analysed"
                                                : "not vacuumed (no psql): first reads are slower");
    LineDatabase reader(url);
    web::LineSlots slots(url);
    Bench("the line's database (--records-db)", reader, slots, url, someRun);
    std::system(("/bin/bash '" + pg + "' stop '" + dir + "'").c_str());
  }
  std::filesystem::remove_all(folder);
  return 0;
}
