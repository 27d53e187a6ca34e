#include <atomic>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <thread>

#include "cli/dashboard_serve.h"
#include "platform/console_io.h"
#include "records/record_store.h"
#include "web/dashboard_server.h"
#include "web/live_slots.h"

namespace morlane {

namespace {

int Usage(const std::string& why) {
  std::fprintf(stderr, "morlane-cli: dashboard: %s\n", why.c_str());
  return kExitUsage;
}

// The server's settings from the command line; false, said, when they cannot be taken.
bool SettingsOf(CliSession& session, const DashboardArgs& args, web::DashboardSettings* settings) {
  std::string why;
  const std::string listen = args.listen.empty() ? web::kDefaultListen : args.listen;
  if (!web::ParseListenAddress(listen, &settings->listen, &why)) {
    Usage("--listen " + why);
    return false;
  }
  if (!args.tokenFile.empty()) {
    web::AccessToken token;
    if (!web::AccessToken::Read(session.PathOf(args.tokenFile), &token, &why)) {
      Usage("--token-file: " + why);
      return false;
    }
    settings->token = token;
  } else if (!settings->listen.loopback) {
    Usage(listen +
          " can be reached from other machines: give --token-file FILE, whose token every "
          "request must then carry, or listen on 127.0.0.1");
    return false;
  }
  if (!args.tlsCert.empty()) settings->tlsCert = session.PathOf(args.tlsCert);
  if (!args.tlsKey.empty()) settings->tlsKey = session.PathOf(args.tlsKey);
  return true;
}

// Starts the server and says where it serves; false with the exit status when it cannot.
bool Start(web::DashboardServer& server, const web::DashboardSettings& settings, int* status) {
  std::string why;
  // A certificate that cannot be read is the command line's mistake; an address that
  // cannot be bound is this machine's state.
  if (bool settingsRefused = false; !server.Start(&why, &settingsRefused)) {
    std::fprintf(stderr, "morlane-cli: dashboard: %s\n", why.c_str());
    *status = settingsRefused ? kExitUsage : kExitFailed;
    return false;
  }
  std::printf("dashboard: serving %s%s\n", server.Url().c_str(),
              settings.token ? " (with its token)" : "");
  std::fflush(stdout);
  return true;
}

// A station's slots as the dashboard reads them: the station's own, from memory.
class StationSlots : public web::SlotSource {
 public:
  explicit StationSlots(std::function<LiveStation()> live) : live_(std::move(live)) {}
  std::vector<LiveStation> Stations() override { return {live_()}; }

 private:
  std::function<LiveStation()> live_;
};

class ServedStationDashboard : public StationDashboard {
 public:
  ServedStationDashboard(std::unique_ptr<RecordStore> store, std::function<LiveStation()> live,
                         const web::DashboardSettings& settings)
      : store_(std::move(store)), slots_(std::move(live)), server_(*store_, &slots_, settings) {
    server_.say = [](const std::string& text) {
      std::fprintf(stderr, "morlane-cli: %s\n", text.c_str());
    };
  }
  ~ServedStationDashboard() override { server_.Stop(); }
  web::DashboardServer& Server() { return server_; }

 private:
  std::unique_ptr<RecordStore> store_;
  StationSlots slots_;
  web::DashboardServer server_;
};

}  // namespace

std::unique_ptr<StationDashboard> ServeStationDashboard(CliSession& session,
                                                        const DashboardArgs& args,
                                                        const std::string& records,
                                                        std::function<LiveStation()> live,
                                                        int* status) {
  *status = kExitUsage;
  web::DashboardSettings settings;
  if (!SettingsOf(session, args, &settings)) return nullptr;
  // A reader of its own: the station's writer is the units' alone.
  std::string why;
  std::unique_ptr<RecordStore> store = RecordStore::Open(records, RecordStore::Mode::Read, &why);
  if (!store) {
    std::fprintf(stderr, "morlane-cli: dashboard: %s\n", why.c_str());
    *status = kExitFailed;
    return nullptr;
  }
  auto served =
      std::make_unique<ServedStationDashboard>(std::move(store), std::move(live), settings);
  if (!Start(served->Server(), settings, status)) return nullptr;
  return served;
}

int ServeDashboard(CliSession& session, const DashboardArgs& args) {
  web::DashboardSettings settings;
  if (!SettingsOf(session, args, &settings)) return kExitUsage;

  int status = kExitFailed;
  std::unique_ptr<RecordSource> source = OpenRecordSource(session, &status);
  if (!source) return status;

  // Over the line's database, the live slots are those its stations report there.
  std::unique_ptr<web::LineSlots> slots;
  const GlobalOptions& options = session.Options();
  if (options.records.empty() && !options.recordsDb.empty()) {
    slots = std::make_unique<web::LineSlots>(options.recordsDb);
    settings.lineNews = options.recordsDb;
  }
  web::DashboardServer server(*source, slots.get(), settings);
  std::mutex output;
  server.say = [&output](const std::string& text) {
    std::lock_guard lock(output);
    std::fprintf(stderr, "morlane-cli: %s\n", text.c_str());
  };
  std::atomic<int> presses{0};
  StopRequests signals(presses);
  // Not under the output's lock: the server may speak while it starts.
  if (!Start(server, settings, &status)) return status;
  while (presses.load() == 0) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  server.Stop();
  std::fprintf(stderr, "dashboard: stopped\n");
  return kExitOk;
}

}  // namespace morlane
