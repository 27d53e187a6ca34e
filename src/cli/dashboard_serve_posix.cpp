#include <atomic>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <thread>

#include "cli/dashboard_serve.h"
#include "platform/console_io.h"
#include "web/dashboard_server.h"

namespace morlane {

namespace {

int Usage(const std::string& why) {
  std::fprintf(stderr, "morlane-cli: dashboard: %s\n", why.c_str());
  return kExitUsage;
}

}  // namespace

int ServeDashboard(CliSession& session, const DashboardArgs& args) {
  web::DashboardSettings settings;
  std::string why;
  const std::string listen = args.listen.empty() ? web::kDefaultListen : args.listen;
  if (!web::ParseListenAddress(listen, &settings.listen, &why)) return Usage("--listen " + why);
  if (!args.tokenFile.empty()) {
    web::AccessToken token;
    if (!web::AccessToken::Read(session.PathOf(args.tokenFile), &token, &why)) {
      return Usage("--token-file: " + why);
    }
    settings.token = token;
  } else if (!settings.listen.loopback) {
    return Usage(listen +
                 " can be reached from other machines: give --token-file FILE, whose token "
                 "every request must then carry, or listen on 127.0.0.1");
  }
  if (!args.tlsCert.empty()) settings.tlsCert = session.PathOf(args.tlsCert);
  if (!args.tlsKey.empty()) settings.tlsKey = session.PathOf(args.tlsKey);

  int status = kExitFailed;
  std::unique_ptr<RecordSource> source = OpenRecordSource(session, &status);
  if (!source) return status;

  // Over the line's database, the live slots are those its stations report there.
  std::unique_ptr<web::LineSlots> slots;
  const GlobalOptions& options = session.Options();
  if (options.records.empty() && !options.recordsDb.empty()) {
    slots = std::make_unique<web::LineSlots>(options.recordsDb);
  }
  web::DashboardServer server(*source, slots.get(), settings);
  std::mutex output;
  server.say = [&output](const std::string& text) {
    std::lock_guard lock(output);
    std::fprintf(stderr, "morlane-cli: %s\n", text.c_str());
  };
  std::atomic<int> presses{0};
  StopRequests signals(presses);
  // A certificate that cannot be read is the command line's mistake; an address that
  // cannot be bound is this machine's state.
  if (bool settingsRefused = false; !server.Start(&why, &settingsRefused)) {
    std::fprintf(stderr, "morlane-cli: dashboard: %s\n", why.c_str());
    return settingsRefused ? kExitUsage : kExitFailed;
  }
  {
    std::lock_guard lock(output);
    std::printf("dashboard: serving %s%s\n", server.Url().c_str(),
                settings.token ? " (with its token)" : "");
    std::fflush(stdout);
  }
  while (presses.load() == 0) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  server.Stop();
  std::fprintf(stderr, "dashboard: stopped\n");
  return kExitOk;
}

}  // namespace morlane
