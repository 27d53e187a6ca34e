// A shift on simulated units: a station with presence start, each unit taken out of its
// fixture after its run and a new one put in with its label scanned for its slot, for as
// long as asked (default two hours). Gives the runs per slot, the station's resident memory
// over the shift, and checks that every unit put in and started is in the records exactly
// once, under the label scanned for it. Each unit is a
// morlane-unit-sim of its own on a pseudo-terminal, reached through the real serial layer
// and taken out and put back through its standard input, so the memory measured is the
// station's alone.
//
//   station_soak [MINUTES [SLOTS]]
//
// Tiny images keep a cycle to seconds: every frame costs the bootloader's 200 ms, so the
// shift's count of units, not the length of each, is what is exercised.
#include <malloc.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "flash/test_image_maker.h"
#include "link/sha256.h"
#include "platform/port_table.h"
#include "platform/system_devices.h"
#include "station/station.h"

namespace {

using namespace morlane;

long ResidentKiB() {
  std::ifstream statm("/proc/self/statm");
  long pages = 0, resident = 0;
  statm >> pages >> resident;
  return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

// What the heap holds for the program now, freed blocks not counted: resident memory keeps
// pages the allocator has not given back, this says whether anything is still growing.
long HeapInUseKiB() {
  return static_cast<long>(mallinfo2().uordblks / 1024);
}

// The share of it that is the record store's SQLite: its page cache fills as the records
// grow, up to the cache's bound, and then stays.
long SqliteKiB() {
  return static_cast<long>(sqlite3_memory_used() / 1024);
}

// A simulated unit in a process of its own: its terminal's path, and its hands.
struct UnitProcess {
  pid_t pid = -1;
  int control = -1;  // its standard input: "out" and "in"
  std::string path;

  bool Start(const std::string& program) {
    int in[2], out[2];
    if (pipe(in) != 0 || pipe(out) != 0) return false;
    pid = fork();
    if (pid == 0) {
      dup2(in[0], 0);
      dup2(out[1], 1);
      close(in[1]);
      close(out[0]);
      execl(program.c_str(), program.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    close(in[0]);
    close(out[1]);
    control = in[1];
    char c = 0;
    while (read(out[0], &c, 1) == 1 && c != '\n') path += c;
    close(out[0]);
    return !path.empty();
  }
  void Say(const char* line) {
    if (write(control, line, std::strlen(line)) < 0) std::perror("station_soak: unit control");
  }
  void Stop() {
    close(control);
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
  }
};

void Write(const std::filesystem::path& path, const std::vector<uint8_t>& bytes) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}

}  // namespace

int main(int argc, char** argv) {
  signal(SIGPIPE, SIG_IGN);  // a unit gone is said by its write, not by ending this
  const int minutes = argc > 1 ? std::atoi(argv[1]) : 120;
  const int slotCount = argc > 2 ? std::atoi(argv[2]) : 4;
  if (minutes <= 0 || slotCount <= 0 || slotCount > 16) {
    std::fprintf(stderr, "station_soak [MINUTES [SLOTS (1-16)]]\n");
    return 2;
  }
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("station_soak_" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  Write(dir / "master.bin", test::MakeInverterImage({{0x2010, test::Words(3, 0x4000)}}));
  Write(dir / "slave.bin", test::MakeInverterImage({{0x0100, test::Words(2, 0x6000)}}));

  StationProfile profile;
  profile.station = "soak";
  profile.procedure = "auto";
  for (const char* name : {"master.bin", "slave.bin"}) {
    const std::string path = (dir / name).string();
    profile.images.push_back({name, path, FileSha256(path)});
  }
  profile.start = "presence";
  // Every unit's label is scanned as it is put in, and must be of the line's form; each
  // scan asks the records whether that unit passed here before.
  profile.requireUnitId = true;
  profile.unitIdPattern = "SN-[0-9]+";
  // Units are out of their fixtures for 2.5 s between two runs.
  profile.presenceAbsentMs = 1000;
  profile.sha256 = std::string(64, '0');

  // The unit's program stands beside this one's folder in the build.
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe");
  const std::string unitProgram =
      (self.parent_path().parent_path() / "src" / "morlane-unit-sim").string();
  std::vector<UnitProcess> units(static_cast<size_t>(slotCount));
  std::vector<std::string> paths;
  for (UnitProcess& unit : units) {
    if (!unit.Start(unitProgram)) {
      std::fprintf(stderr, "station_soak: %s does not start\n", unitProgram.c_str());
      return 1;
    }
    paths.push_back(unit.path);
  }
  std::unique_ptr<SerialPortFactory> ports = MakeSystemPorts(PortTable(paths));
  std::string error;
  std::vector<StationPort> slots;
  for (int i = 1; i <= slotCount; ++i) {
    const std::string name(1, static_cast<char>('A' + i - 1));
    profile.slots.push_back({name, paths[static_cast<size_t>(i - 1)]});
    slots.push_back(StationPort{i, name, paths[static_cast<size_t>(i - 1)], i});
  }
  std::unique_ptr<RecordStore> store =
      RecordStore::Open((dir / "out").string(), RecordStore::Mode::Write, &error);
  if (!store) {
    std::fprintf(stderr, "station_soak: %s\n", error.c_str());
    return 1;
  }

  // The operator: a unit whose run ended is taken out half a second later and a new one
  // put in a second after that.
  std::mutex mutex;
  std::map<std::string, int> started, ended, putIn;
  std::map<std::string, std::chrono::steady_clock::time_point> takeOutAt;
  Station station(profile, *ports, slots, *store, {"soak", std::nullopt});
  station.onNotice = [&](const std::string& line) {
    const std::string slot = line.substr(0, line.find(' '));
    std::lock_guard lock(mutex);
    if (line.find(" started") != std::string::npos) {
      ++started[slot];
    } else {
      ++ended[slot];
      takeOutAt[slot] = std::chrono::steady_clock::now() + std::chrono::milliseconds(500);
    }
  };
  station.onRemark = [](const std::string& text) { std::fprintf(stderr, "%s\n", text.c_str()); };
  int serial = 0;
  int refusedScans = 0;
  std::set<std::string> scanned;
  // The operator scans the label of the unit going into a slot.
  auto scan = [&](const std::string& slot) {
    const std::string id = "SN-" + std::to_string(++serial);
    scanned.insert(id);
    if (const std::string why = station.Scan(slot + " " + id); !why.empty()) {
      std::fprintf(stderr, "station_soak: %s %s refused: %s\n", slot.c_str(), id.c_str(),
                   why.c_str());
      ++refusedScans;
    }
  };
  for (const StationPort& slot : slots) {
    putIn[slot.name] = 1;
    scan(slot.name);
  }
  station.Start();

  const auto begin = std::chrono::steady_clock::now();
  const auto end = begin + std::chrono::minutes(minutes);
  long firstKiB = 0, peakKiB = 0;
  auto nextReport = begin + std::chrono::seconds(60);
  std::map<std::string, std::chrono::steady_clock::time_point> putBackAt;
  std::printf("minute  runs  resident KiB  heap in use KiB  of it SQLite KiB\n");
  while (std::chrono::steady_clock::now() < end) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const auto now = std::chrono::steady_clock::now();
    {
      std::lock_guard lock(mutex);
      for (int i = 1; i <= slotCount; ++i) {
        const std::string name = slots[static_cast<size_t>(i - 1)].name;
        UnitProcess& unit = units[static_cast<size_t>(i - 1)];
        if (auto out = takeOutAt.find(name); out != takeOutAt.end() && now >= out->second) {
          unit.Say("out\n");
          takeOutAt.erase(out);
          putBackAt[name] = now + std::chrono::milliseconds(2500);
        }
        if (auto back = putBackAt.find(name); back != putBackAt.end() && now >= back->second) {
          scan(name);
          unit.Say("in\n");
          putBackAt.erase(back);
          ++putIn[name];
        }
      }
    }
    if (now >= nextReport) {
      nextReport += std::chrono::seconds(60);
      const long kib = ResidentKiB();
      if (firstKiB == 0) firstKiB = kib;
      peakKiB = std::max(peakKiB, kib);
      int runs = 0;
      {
        std::lock_guard lock(mutex);
        for (auto& [slot, count] : ended) runs += count;
      }
      std::printf("%6lld  %4d  %12ld  %15ld  %16ld\n",
                  static_cast<long long>(
                      std::chrono::duration_cast<std::chrono::minutes>(now - begin).count()),
                  runs, kib, HeapInUseKiB(), SqliteKiB());
      std::fflush(stdout);
    }
  }
  station.Finish();
  station.Join();
  for (UnitProcess& unit : units) unit.Stop();

  // Every unit that started is in the records once; no unit put in ran twice.
  RunFilter all;
  std::vector<RunRecord> records = store->List(all, &error);
  std::set<std::string> runIds;
  std::set<std::string> unitIds;
  std::map<std::string, int> recorded;
  int passed = 0;
  for (const RunRecord& record : records) {
    runIds.insert(record.runId);
    if (record.unitId && scanned.count(*record.unitId)) unitIds.insert(*record.unitId);
    ++recorded[record.slot];
    if (record.result == "pass") {
      ++passed;
    } else {
      // What a failed unit's run says of itself, for the figures' reader to judge.
      std::printf("slot %s, started %s: %s at %s\n", record.slot.c_str(), record.started.c_str(),
                  record.result.c_str(), record.failedStep.c_str());
    }
  }
  // Each run under a label scanned for it, no label twice; every scan taken.
  bool sound =
      runIds.size() == records.size() && unitIds.size() == records.size() && refusedScans == 0;
  int runs = 0;
  for (const StationPort& slot : slots) {
    const int s = started[slot.name], e = ended[slot.name], r = recorded[slot.name];
    const int in = putIn[slot.name];
    std::printf("slot %s: %d units put in, %d started, %d ended, %d recorded\n", slot.name.c_str(),
                in, s, e, r);
    sound = sound && s == e && e == r && (s == in || s == in - 1);
    runs += r;
  }
  const StationTally tally = station.Tally();
  std::printf(
      "%d runs in %d min, %d passed; resident memory %ld KiB after the first minute, "
      "%ld KiB at the most, %ld KiB at the end\n",
      runs, minutes, passed, firstKiB, peakKiB, ResidentKiB());
  std::printf("first-pass yield %d of %d units; %d labels scanned, %d refused; records %s\n",
              tally.firstPassUnits, tally.units, serial, refusedScans,
              sound ? "complete, each unit once under its label" : "NOT as the units were");
  std::filesystem::remove_all(dir);
  return sound ? 0 : 1;
}
