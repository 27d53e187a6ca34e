// gang auto, gang flash FILE: every serial port of the station programmed at once, each
// unit by a dialog of its own, with a log and a run record per unit.
#include <CLI/CLI.hpp>

#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "cli/cli_session.h"
#include "cli/station_ports.h"
#include "platform/console_io.h"
#include "platform/file_io.h"
#include "platform/host_inspection.h"
#include "records/record_store.h"
#include "records/unkept_runs.h"
#include "station/gang_unit.h"
#include "station/line_feed.h"

namespace morlane {

namespace {

constexpr int kViewRefreshMs = 200;
constexpr int kPollMs = 20;
// The live view's columns: a terminal that does not say its width is taken as 80 wide.
constexpr int kDefaultColumns = 80;
constexpr int kWideColumns = 120;
constexpr int kPortWidth = 14;
constexpr int kMinStepWidth = 8;
constexpr int kVerdictWidth = 14;  // "FAIL at verify"

// The live view on a terminal: one line per unit, drawn again in place. A log line is
// printed above it: the view is taken away first and drawn again under the line, so that
// the two never run together.
class LiveView {
 public:
  explicit LiveView(std::vector<std::unique_ptr<GangUnit>>& units) : units_(units) {}

  void Clear() {
    if (!drawn_) return;
    std::fprintf(stderr, "\x1b[%zuA\r\x1b[J", units_.size());
    std::fflush(stderr);
    drawn_ = false;
  }

  void Draw() {
    // A line longer than the terminal would wrap, and the view would climb back the wrong
    // number of rows: each is cut to the width, the step getting what the rest leaves.
    const int reported = TerminalColumns(stderr);
    const int columns = reported > 0 ? reported : kDefaultColumns;
    const int barWidth = columns >= kWideColumns ? 20 : 10;
    // name, port, step, [bar], "100 %", verdict, with their spaces
    const int fixed = 6 + 1 + kPortWidth + 1 + 1 + (barWidth + 2) + 1 + 5 + 2 + kVerdictWidth;
    const int stepWidth = std::max(kMinStepWidth, columns - 1 - fixed);
    std::string text;
    if (drawn_) text += "\x1b[" + std::to_string(units_.size()) + "A";
    for (auto& unit : units_) {
      UnitView view = unit->View();
      std::string bar(static_cast<size_t>(view.percent * barWidth / 100), '#');
      bar.resize(static_cast<size_t>(barWidth), ' ');
      char line[512];
      std::snprintf(line, sizeof line, "%-6s %-*.*s %-*.*s [%s] %3d %%  %s", unit->Name().c_str(),
                    kPortWidth, kPortWidth, unit->Port().c_str(), stepWidth, stepWidth,
                    view.step.c_str(), bar.c_str(), view.percent, view.verdict.c_str());
      std::string shown(line);
      if (shown.size() > static_cast<size_t>(columns - 1))
        shown.resize(static_cast<size_t>(columns - 1));
      text += "\r\x1b[K" + shown + "\n";
    }
    std::fputs(text.c_str(), stderr);
    std::fflush(stderr);
    drawn_ = true;
  }

 private:
  std::vector<std::unique_ptr<GangUnit>>& units_;
  bool drawn_ = false;
};

int RunGang(CliSession& session, GangJob job, const std::string& shown) {
  const GlobalOptions& options = session.Options();
  job.skipIdentical = options.skipIdentical;
  job.unkeptFolder = UnkeptRunsFolder();
  if (job.procedure == "flash" && !Readable(job.path)) return Unreadable(shown);
  if (job.procedure == "flash") {
    if (int refused = RefuseUnclearCpu(job.path, shown, job.cpu)) return refused;
  }

  GangControl control;
  std::mutex output;
  std::vector<std::unique_ptr<GangUnit>> units;
  const bool live = !options.quiet && IsTerminal(stderr) && EnableTerminalEscapes(stderr);
  LiveView view(units);
  StationPorts ports(session);
  if (ports.List().empty()) {
    std::fprintf(stderr, "morlane-cli: no serial port to program a unit on\n");
    return kExitUsage;
  }
  std::set<std::string> slots;
  for (const StationPort& port : ports.List()) slots.insert(port.name);
  std::map<std::string, std::string> unitIds;
  if (std::string why; !UnitIdsBySlot(options.unitIds, slots, &unitIds, &why)) {
    std::fprintf(stderr, "morlane-cli: %s\n", why.c_str());
    return kExitUsage;
  }

  // The store is made ready before any unit is touched: a folder that cannot take the
  // records is found now, not after the units were programmed.
  const std::string records = !options.records.empty() ? options.records
                              : !options.dir.empty()   ? options.dir
                                                       : ".";
  std::string why;
  std::unique_ptr<RecordStore> store = RecordStore::Open(records, RecordStore::Mode::Write, &why);
  if (!store) {
    std::fprintf(stderr, "morlane-cli: %s\n", why.c_str());
    return kExitUsage;
  }
  StationIdentity identity{options.station.empty() ? HostName() : options.station,
                           options.operatorName};
  std::unique_ptr<LineFeed> lineFeed;
  if (!options.recordsDb.empty()) {
    lineFeed = LineFeed::Open(options.recordsDb, *store, records, &why);
    if (!lineFeed) {
      std::fprintf(stderr, "morlane-cli: --records-db: %s\n", why.c_str());
      return kExitUsage;
    }
    lineFeed->say = [&output, &view, live](const std::string& text) {
      std::lock_guard lock(output);
      if (live) view.Clear();
      std::fprintf(stderr, "morlane-cli: %s\n", text.c_str());
      if (live) view.Draw();
    };
  }

  HostInspection host(HostRoots::System(), UserIdentity::Current());
  std::vector<std::string> paths;
  for (const StationPort& port : ports.List()) paths.push_back(port.path);
  std::vector<SerialDeviceFacts> facts = host.SerialDevices(paths);
  for (size_t i = 0; i < ports.List().size(); ++i) {
    auto unit = std::make_unique<GangUnit>(ports.List()[i], ports.Factory(), control);
    if (auto id = unitIds.find(unit->Name()); id != unitIds.end()) unit->unitId = id->second;
    if (i < facts.size()) unit->portId = StablePortId(facts[i]);
    if (lineFeed) unit->afterKept = [&lineFeed] { lineFeed->Send(); };
    unit->events = session.Events();
    unit->onLine = [&output, &view, &session, live](const std::string& name,
                                                    std::string_view line) {
      std::lock_guard lock(output);
      if (live) view.Clear();
      if (session.LogToStdout()) {
        std::printf("%s: %.*s\n", name.c_str(), static_cast<int>(line.size()), line.data());
        std::fflush(stdout);
      }
      session.WriteLogJson(name + ": " + std::string(line));
      if (live) view.Draw();
    };
    unit->onMessage = [&output, &view, live](const std::string& name, const std::string& text) {
      std::lock_guard lock(output);
      if (live) view.Clear();
      std::fprintf(stderr, "%s: message: %s\n", name.c_str(), text.c_str());
      if (live) view.Draw();
    };
    units.push_back(std::move(unit));
  }

  std::atomic<int> presses{0};
  StopRequests signals(presses);
  std::atomic<int> running{static_cast<int>(units.size())};
  std::vector<std::thread> threads;
  std::vector<char> unitPassed(units.size(), 0);
  for (size_t i = 0; i < units.size(); ++i) {
    threads.emplace_back([&, i] {
      unitPassed[i] = units[i]->Run(job, options.dir, *store, identity) ? 1 : 0;
      --running;
    });
  }

  for (int tick = 0; running > 0; ++tick) {
    // Every press counts, however quickly they come: once, no unit starts another CPU;
    // twice, every unit stops now.
    const int pressed = presses.load();
    if (pressed >= 1) control.holdNextCpu = true;
    if (pressed >= 2) control.abortNow = true;
    if (live && tick % (kViewRefreshMs / kPollMs) == 0) {
      std::lock_guard lock(output);
      view.Draw();
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(kPollMs));
  }
  for (std::thread& thread : threads) thread.join();
  // What waits for the line's database is tried once more, bounded, and what still waits
  // is said.
  if (lineFeed) lineFeed->Finish();
  if (live) view.Draw();

  int passed = 0;
  for (char unit : unitPassed) passed += unit;
  const int failed = static_cast<int>(units.size()) - passed;
  std::fprintf(stderr, "gang: %d passed, %d failed or stopped\n", passed, failed);
  if (failed == 0) return kExitOk;
  session.SetFailure("gang", std::to_string(failed) + " of " + std::to_string(units.size()) +
                                 " units failed or were stopped");
  return kExitFailed;
}

}  // namespace

void RegisterGangCommands(CLI::App& app, CommandRunner& selected) {
  auto* gang = app.add_subcommand(
      "gang",
      "The same procedure on every serial port at once (the --port paths, else every port "
      "the system has), a dialog per unit");
  gang->require_subcommand(1);
  auto* automatic = gang->add_subcommand("auto", "\"Automatic\" on every unit");
  automatic->callback([&selected] {
    selected = [](CliSession& session) {
      if (!session.Options().package.empty()) return RefusePackage("gang auto");
      return RunGang(session, GangJob{.procedure = "auto"}, "");
    };
  });
  auto* flash = gang->add_subcommand("flash", "One image programmed into every unit");
  auto file = std::make_shared<std::string>();
  auto cpu = std::make_shared<std::string>();
  AddFlashArguments(*flash, *file, *cpu);
  flash->callback([&selected, file, cpu] {
    selected = [file, cpu](CliSession& session) {
      if (!session.Options().package.empty()) return RefusePackage("gang flash");
      GangJob job{.procedure = "flash", .path = session.PathOf(*file), .file = *file, .cpu = *cpu};
      return RunGang(session, job, *file);
    };
  });
}

}  // namespace morlane
