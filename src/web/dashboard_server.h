#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "records/record_source.h"
#include "web/access_token.h"
#include "web/listen_address.h"
#include "web/live_slots.h"
#include "web/run_feed.h"

namespace morlane::web {

struct DashboardSettings {
  ListenAddress listen;
  // Asked of every request when set; the caller decides when it must be.
  std::optional<AccessToken> token;
  // HTTPS with this certificate (PEM, its chain after it) and key when both are given.
  std::string tlsCert;
  std::string tlsKey;
  // How often a stream with nothing to say sends a comment, so that proxies and the
  // browser keep it open and a page can tell a stalled stream from a quiet line.
  std::chrono::milliseconds keepAlive{15000};
  // Chart.js as the system ships it (Debian's libjs-chart.js), served to the page as
  // /chart.js: the page loads nothing from another host. Read when the server starts; a
  // page without it shows its figures as tables and says what it lacks.
  std::string chartJs = "/usr/share/javascript/chart.js/chart.min.js";
  // The line's database whose news (LISTEN) tell of new runs and slot states at once;
  // empty: the runs are polled every second.
  std::string lineNews;
};

// The line's dashboard: the page, its API over the records' queries and the stream of new
// runs, served over HTTP (or HTTPS) on threads of its own until Stop().
class DashboardServer {
 public:
  // At most this many streams are open at once (each holds a thread of the server's); one
  // more is answered 503 and the page tries again.
  static constexpr int kMaxStreams = 64;

  // source is read under a lock of the server's own (the API's threads and the feed share
  // it); slots may be null; feed null: the one settings.lineNews asks for. Everything handed in
  // outlives the server.
  DashboardServer(RecordSource& source, SlotSource* slots, DashboardSettings settings,
                  std::unique_ptr<RunFeed> feed = nullptr);
  ~DashboardServer();
  DashboardServer(const DashboardServer&) = delete;
  DashboardServer& operator=(const DashboardServer&) = delete;

  // Binds the address and serves; false, with why, when the certificate or key cannot be
  // read (*settingsRefused set: the caller's mistake) or the address cannot be bound.
  bool Start(std::string* why, bool* settingsRefused = nullptr);
  // The port it listens on (the one the system chose for port 0).
  int Port() const;
  // The page's address, "http://127.0.0.1:8470/".
  std::string Url() const;
  // Ends every stream, then the server; returns once all its threads have ended (a request
  // under way is given its time-outs, a few seconds at most).
  void Stop();

  // What the operator should know (the records cannot be read, and that they can again).
  std::function<void(const std::string&)> say;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace morlane::web
