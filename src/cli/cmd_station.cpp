// station --profile FILE: a production station that runs until stopped, its units started
// by the scans on standard input or by their presence on the slots' ports.
#include <CLI/CLI.hpp>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <memory>
#include <mutex>
#include <thread>

#include "cli/cli_session.h"
#include "cli/dashboard_serve.h"
#include "package/service_package.h"
#include "platform/console_io.h"
#include "platform/file_io.h"
#include "platform/port_table.h"
#include "platform/system_devices.h"
#include "platform/utf8_path.h"
#include "station/line_feed.h"
#include "station/live_report.h"
#include "station/profile.h"
#include "station/profile_init.h"
#include "station/station.h"
#include "station/station_check.h"
#include "station/station_setup.h"

namespace morlane {

namespace {

constexpr int kPollMs = 20;

// A line longer than any scan is kept only this far (the station refuses it): input that is
// no scanner's, a file without line ends, must not grow without end.
constexpr size_t kLongestScanLine = 1024;

// The lines of standard input, read on a thread of their own: a read cannot be given a
// time-out on every system, so the reader is left behind when the station ends while it
// waits. It owns nothing of the station's.
struct ScanLines {
  std::mutex mutex;
  std::deque<std::string> lines;
  bool ended = false;

  static std::shared_ptr<ScanLines> Start() {
    auto shared = std::make_shared<ScanLines>();
    std::thread([shared] {
      std::string line;
      auto push = [&shared, &line] {
        std::lock_guard lock(shared->mutex);
        shared->lines.push_back(std::move(line));
        line.clear();
      };
      for (int c = std::getchar(); c != EOF; c = std::getchar()) {
        if (c == '\n') {
          push();
        } else if (line.size() < kLongestScanLine) {
          line += static_cast<char>(c);
        }
      }
      if (!line.empty()) push();
      std::lock_guard lock(shared->mutex);
      shared->ended = true;
    }).detach();
    return shared;
  }
};

// The folder the station keeps its runs in: the command line's, else the profile's.
std::string StationRecords(const GlobalOptions& options, const StationProfile& profile) {
  return !options.records.empty() ? options.records : profile.records;
}

// The slots' ports: their paths from the profile (a table made into *own), or the simulated
// units in order.
SerialPortFactory* SlotPortTable(CliSession& session, const StationProfile& profile,
                                 std::unique_ptr<SerialPortFactory>* own) {
  if (session.Sim()) return &session.Ports();
  *own = MakeSystemPorts(PortTable(SlotDevices(profile)));
  return own->get();
}

// What the station took before the session wrote anything: the profile, read and its
// images checked once, and the hold on its records folder.
struct HeldStation {
  std::optional<StationProfile> profile;
  std::unique_ptr<FolderLock> folderLock;
};

// One station per records folder, held before the session writes anything: a second
// station refused must not have emptied the first's events or log file on its way. A
// profile that cannot be read is left to the station to say.
bool HoldRecordsFolder(CliSession& session, const std::string& profilePath, HeldStation* held,
                       std::string* why) {
  std::string unread;
  held->profile = LoadStationProfile(session.PathOf(profilePath), &unread);
  if (!held->profile) return true;
  const std::string records = StationRecords(session.Options(), *held->profile);
  std::error_code ignored;  // a folder that cannot be made is said by the lock
  std::filesystem::create_directories(PathFromUtf8(records), ignored);
  held->folderLock = LockRecordsFolder(records, why);
  return held->folderLock != nullptr;
}

int RunStation(CliSession& session, const std::string& profilePath, HeldStation held,
               const DashboardArgs& dashboardArgs) {
  const GlobalOptions& options = session.Options();
  std::string why;
  std::optional<StationProfile> profile = std::move(held.profile);
  if (!profile) profile = LoadStationProfile(session.PathOf(profilePath), &why);
  if (!profile) {
    std::fprintf(stderr, "morlane-cli: %s\n", why.c_str());
    return kExitUsage;
  }
  // The command line speaks last: --records, --records-db, --station, --skip-identical.
  const std::string records = StationRecords(options, *profile);
  const std::string recordsDb = !options.recordsDb.empty() ? options.recordsDb : profile->recordsDb;
  if (options.skipIdentical) profile->skipIdentical = true;
  StationIdentity identity{!options.station.empty()    ? options.station
                           : !profile->station.empty() ? profile->station
                                                       : HostName(),
                           options.operatorName};

  if (session.Sim() && options.simulateUnits < static_cast<int>(profile->slots.size())) {
    std::fprintf(stderr, "morlane-cli: the profile has %zu slots: give --simulate-units %zu\n",
                 profile->slots.size(), profile->slots.size());
    return kExitUsage;
  }
  std::unique_ptr<SerialPortFactory> ownPorts;
  SerialPortFactory* ports = SlotPortTable(session, *profile, &ownPorts);
  const std::vector<StationPort> slots = SlotPorts(*profile, *ports);

  std::unique_ptr<RecordStore> store = RecordStore::Open(records, RecordStore::Mode::Write, &why);
  if (!store) {
    std::fprintf(stderr, "morlane-cli: %s\n", why.c_str());
    return kExitUsage;
  }
  std::unique_ptr<FolderLock> folderLock = std::move(held.folderLock);
  if (!folderLock) folderLock = LockRecordsFolder(records, &why);
  if (!folderLock) {
    std::fprintf(stderr, "morlane-cli: %s\n", why.c_str());
    return kExitUsage;
  }
  std::mutex output;
  std::unique_ptr<LineFeed> lineFeed;
  if (!recordsDb.empty()) {
    lineFeed = LineFeed::Open(recordsDb, *store, records, &why);
    if (!lineFeed) {
      std::fprintf(stderr, "morlane-cli: --records-db: %s\n", why.c_str());
      return kExitUsage;
    }
    lineFeed->say = [&output](const std::string& text) {
      std::lock_guard lock(output);
      std::fprintf(stderr, "morlane-cli: %s\n", text.c_str());
    };
  }

  Station station(*profile, *ports, slots, *store, identity);
  station.events = session.Events();
  // With --events - stdout is the events' alone.
  const bool notices = session.LogToStdout();
  // A reader of stdout that went away ends the printing, never a run: the running units
  // finish and are kept, and no unit starts after them, as when the scans end.
  std::atomic<bool> stdoutClosed{false};
  station.onNotice = [&output, &stdoutClosed, notices](const std::string& line) {
    if (!notices || stdoutClosed) return;
    std::lock_guard lock(output);
    if (std::printf("%s\n", line.c_str()) < 0 || std::fflush(stdout) != 0) stdoutClosed = true;
  };
  station.onRemark = [&output](const std::string& text) {
    std::lock_guard lock(output);
    std::fprintf(stderr, "%s\n", text.c_str());
  };
  station.onLine = [&session, &output](const std::string& slot, std::string_view line) {
    std::lock_guard lock(output);
    session.WriteLogJson(slot + ": " + std::string(line));
  };
  // What the line's database and the station's dashboard show of its slots.
  LiveReport live(station, identity.station, *profile);
  if (lineFeed) {
    station.afterKept = [&lineFeed] { lineFeed->Send(); };
    lineFeed->ReportLive([&live] { return live.Now(); });
  }
  // Served before the first unit starts: an address that cannot be served stops the
  // station before it has done anything.
  std::unique_ptr<StationDashboard> dashboard;
  if (!dashboardArgs.listen.empty()) {
    int status = kExitFailed;
    dashboard = ServeStationDashboard(
        session, dashboardArgs, records, [&live] { return live.Now(); }, &status);
    if (!dashboard) {
      if (lineFeed) lineFeed->Finish();
      return status;
    }
  }

  std::fprintf(stderr, "station %s: %zu slots, %s start; scan UNIT_ID or SLOT UNIT_ID\n",
               identity.station.c_str(), slots.size(), profile->start.c_str());
  std::atomic<int> presses{0};
  StopRequests signals(presses);
  std::shared_ptr<ScanLines> scans = ScanLines::Start();
  station.Start();
  bool finishing = false;
  for (;;) {
    const int pressed = presses.load();
    if (pressed >= 2) station.StopNow();
    if (pressed >= 1 && !finishing) {
      finishing = true;
      {
        std::lock_guard lock(output);
        std::fprintf(stderr, "Stopping: the running units finish first\n");
      }
      station.Finish();
    }
    std::deque<std::string> lines;
    bool inputEnded = false;
    {
      std::lock_guard lock(scans->mutex);
      lines.swap(scans->lines);
      inputEnded = scans->ended;
    }
    for (const std::string& line : lines) {
      if (std::string refused = station.Scan(line); !refused.empty()) {
        std::lock_guard lock(output);
        std::fprintf(stderr, "morlane-cli: %s\n", refused.c_str());
      }
    }
    if (stdoutClosed && !finishing) {
      finishing = true;
      {
        std::lock_guard lock(output);
        std::fprintf(stderr,
                     "morlane-cli: standard output was closed: no unit starts after the "
                     "running ones\n");
      }
      // Outside the lock: the station's remarks take it.
      station.Finish();
    }
    if (inputEnded && !finishing && !station.Busy()) {
      finishing = true;
      station.Finish();
    }
    if (finishing && !station.Busy()) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(kPollMs));
  }
  station.Join();
  if (lineFeed) lineFeed->Finish();
  // The last verdicts stay on the page until the station has ended.
  dashboard.reset();

  const StationTally tally = station.Tally();
  const int yield = tally.FirstPassYield();
  std::fprintf(stderr,
               "station: %d passed, %d failed or stopped; first-pass yield %d %% of %d units\n",
               tally.passed, tally.failed, yield, tally.units);
  return station.AllPassed() ? kExitOk : kExitFailed;
}

// station --check: what a start checks, a line each, without starting.
int CheckStationProfile(CliSession& session, const std::string& profilePath) {
  const GlobalOptions& options = session.Options();
  std::string why;
  std::optional<StationProfile> profile = ReadStationProfile(session.PathOf(profilePath), &why);
  if (!profile) {
    std::fprintf(stderr, "morlane-cli: %s\n", why.c_str());
    return kExitUsage;
  }
  std::unique_ptr<SerialPortFactory> ownPorts;
  SerialPortFactory* ports = SlotPortTable(session, *profile, &ownPorts);
  const std::string recordsDb = !options.recordsDb.empty() ? options.recordsDb : profile->recordsDb;
  bool ready = true;
  for (const StationFinding& finding :
       CheckStation(*profile, StationRecords(options, *profile), recordsDb, *ports)) {
    std::printf("%s\n", FindingLine(finding).c_str());
    ready = ready && finding.ready;
  }
  std::fflush(stdout);
  return ready ? kExitOk : kExitFailed;
}

// station --init: a new profile from the images and slots given, never over a file.
int WriteNewProfile(CliSession& session, const std::string& given,
                    const std::vector<std::string>& images, const std::vector<std::string>& slots) {
  const std::string path = session.PathOf(given);
  std::error_code failure;
  if (std::filesystem::exists(PathFromUtf8(path), failure) || failure) {
    std::fprintf(stderr, "morlane-cli: %s exists: a new profile is never written over a file\n",
                 given.c_str());
    return kExitUsage;
  }
  const GlobalOptions& options = session.Options();
  ProfileRequest request;
  request.profilePath = path;
  request.slots = slots;
  for (const std::string& image : images) request.images.push_back(session.PathOf(image));
  if (!options.package.empty()) {
    request.package = session.PathOf(options.package);
    request.model = options.model;
    if (!options.trustedKeys.empty()) request.trustedKeys = session.PathOf(options.trustedKeys);
    // Checked now as a start would check it, so that no profile is written for a package
    // this station could not take; without --model the package's own model is the units'.
    const package::PackageReport report = package::ReadPackage(
        request.package, package::TrustFor(request.trustedKeys, false, request.model));
    if (!report.Usable()) {
      std::fprintf(stderr, "morlane-cli: station --init: package %s refused: %s\n",
                   options.package.c_str(), report.refusal.c_str());
      return kExitFailed;
    }
    if (request.model.empty()) request.model = report.manifest->model;
  }
  std::string why;
  const std::string text = NewProfileText(request, &why);
  if (text.empty()) {
    std::fprintf(stderr, "morlane-cli: station --init: %s\n", why.c_str());
    return kExitUsage;
  }
  if (!WriteFileDurably(path, text, &why)) {
    std::fprintf(stderr, "morlane-cli: cannot write %s: %s\n", given.c_str(), why.c_str());
    return kExitFailed;
  }
  // Only a profile a station would start from is left behind (an image whose name names no
  // CPU, for one).
  if (!LoadStationProfile(path, &why)) {
    std::filesystem::remove(PathFromUtf8(path), failure);
    std::fprintf(stderr, "morlane-cli: station --init: %s\n", why.c_str());
    return kExitUsage;
  }
  if (request.package.empty()) {
    std::printf(
        "wrote %s: %zu images, %zu slots; start it with: morlane-cli station --profile %s\n",
        given.c_str(), images.size(), slots.size(), given.c_str());
  } else {
    std::printf(
        "wrote %s: package %s (model %s), %zu slots; start it with: morlane-cli station "
        "--profile %s\n",
        given.c_str(), options.package.c_str(), request.model.c_str(), slots.size(), given.c_str());
  }
  return kExitOk;
}

}  // namespace

void RegisterStationCommands(CLI::App& app, GlobalOptions& options, CommandRunner& selected) {
  auto* command = app.add_subcommand(
      "station",
      "A production station until Ctrl-C or the end of standard input: units started by scans "
      "(UNIT_ID or SLOT UNIT_ID, one per line) or by their presence, as the profile says");
  auto profile = std::make_shared<std::string>();
  command->add_option("--profile", *profile, "the station's TOML profile")->type_name("FILE");
  auto init = std::make_shared<std::string>();
  auto images = std::make_shared<std::vector<std::string>>();
  auto slots = std::make_shared<std::vector<std::string>>();
  command
      ->add_option("--init", *init,
                   "write a new profile to FILE (never over a file): the --images with their "
                   "digests, and the --slot NAME=PORT given")
      ->type_name("FILE")
      ->excludes("--profile");
  command->add_option("--images", *images, "with --init: the images to approve, in order")
      ->type_name("FILE...");
  command->add_option("--slot", *slots, "with --init: a slot and its port; repeatable")
      ->type_name("NAME=PORT");
  auto check = std::make_shared<bool>(false);
  command->add_flag("--check", *check,
                    "with --profile: check what a start checks (images, records, line database, "
                    "ports), a line each, and exit 0 when all is ready, 1 when not");
  auto dashboard = std::make_shared<DashboardArgs>();
  command
      ->add_option("--dashboard", dashboard->listen,
                   "also serve the station's dashboard (its runs and its live slots) on "
                   "ADDR:PORT; beyond this machine only with --token-file")
      ->type_name("ADDR:PORT");
  AddDashboardAccessOptions(*command, *dashboard);
  auto held = std::make_shared<HeldStation>();
  command->callback([&selected, &options, profile, held, init, images, slots, check, dashboard] {
    if (!init->empty()) {
      selected = [init, images, slots](CliSession& session) {
        return WriteNewProfile(session, *init, *images, *slots);
      };
      return;
    }
    if (profile->empty()) throw CLI::RequiredError("--profile (or --init)");
    if (!options.package.empty()) {
      // A running station's images are its profile's: a package given beside it would
      // look taken and be ignored.
      selected = [](CliSession&) {
        std::fprintf(stderr,
                     "morlane-cli: --package: a station takes the package its profile names "
                     "(or give it to station --init)\n");
        return kExitUsage;
      };
      return;
    }
    if (*check) {
      selected = [profile](CliSession& session) { return CheckStationProfile(session, *profile); };
      return;
    }
    options.beforeOutputs = [profile, held](CliSession& session, std::string* why) {
      return HoldRecordsFolder(session, *profile, held.get(), why);
    };
    selected = [profile, held, dashboard](CliSession& session) {
      return RunStation(session, *profile, std::move(*held), *dashboard);
    };
  });
}

}  // namespace morlane
