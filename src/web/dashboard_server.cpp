#include "web/dashboard_server.h"

#include <httplib.h>
#include <openssl/ssl.h>

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <thread>

#include "platform/file_io.h"
#include "records/run_record.h"
#include "web/dashboard_api.h"
#include "web/line_run_feed.h"
#include "web/resources.h"

namespace morlane::web {

namespace {

constexpr const char* kJson = "application/json; charset=utf-8";
constexpr const char* kHtml = "text/html; charset=utf-8";

// Threads that answer requests: every open stream holds one, and the rest answer the API.
constexpr size_t kServerThreads = DashboardServer::kMaxStreams + 16;
// Events a stream that fell behind can still catch up on; older ones it misses (the page
// reads the runs again when it sees a gap).
constexpr size_t kKeptEvents = 256;
// The page loads nothing from another host, and no other site frames it.
// Chart.js is about 200 KiB; anything far beyond is not it.
constexpr uint64_t kChartJsLimit = 8u << 20;

constexpr const char* kPagePolicy =
    "default-src 'self'; script-src 'self' 'unsafe-inline'; style-src 'self' 'unsafe-inline'; "
    "img-src 'self' data:; connect-src 'self'; frame-ancestors 'none'; base-uri 'none'; "
    "form-action 'self'";

// The source for the server's threads, one call at a time: neither a store's connection
// nor the line database's is shared by two calls at once.
class LockedSource : public RecordSource {
 public:
  explicit LockedSource(RecordSource& source) : source_(source) {}
  std::vector<RunRecord> List(const RunFilter& filter, std::string* error) override {
    std::lock_guard lock(mutex_);
    return source_.List(filter, error);
  }
  std::vector<RunRecord> Summaries(const RunFilter& filter, std::string* error) override {
    std::lock_guard lock(mutex_);
    return source_.Summaries(filter, error);
  }
  std::vector<YieldRow> YieldRows(const RunFilter& filter, std::string* error) override {
    std::lock_guard lock(mutex_);
    return source_.YieldRows(filter, error);
  }
  std::optional<RunRecord> Load(const std::string& runId, std::string* error) override {
    std::lock_guard lock(mutex_);
    return source_.Load(runId, error);
  }
  std::optional<std::string> LogOf(const std::string& runId) override {
    std::lock_guard lock(mutex_);
    return source_.LogOf(runId);
  }

 private:
  RecordSource& source_;
  std::mutex mutex_;
};

QueryParams ParamsOf(const httplib::Request& request) {
  return QueryParams(request.params.begin(), request.params.end());
}

void Answer(httplib::Response& response, const ApiAnswer& answer) {
  response.status = answer.status;
  response.set_content(answer.body, kJson);
}

// A key with a passphrase would have OpenSSL ask for it on the terminal: a server started
// by a service manager would wait there for ever. It is refused instead.
int NoPassphrase(char*, int, int, void*) {
  return 0;
}

std::string OpenSslReason() {
  const unsigned long code = ERR_get_error();
  ERR_clear_error();
  if (code == 0) return "not PEM";
  char text[256];
  ERR_error_string_n(code, text, sizeof text);
  return text;
}

}  // namespace

struct DashboardServer::Impl {
  Impl(RecordSource& records, SlotSource* slots, DashboardSettings given,
       std::unique_ptr<RunFeed> runFeed)
      : source(records),
        api(source, slots),
        slots(slots),
        settings(std::move(given)),
        feed(runFeed ? std::move(runFeed)
             : !settings.lineNews.empty()
                 ? std::unique_ptr<RunFeed>(
                       std::make_unique<ListeningRunFeed>(source, settings.lineNews))
                 : std::make_unique<PolledRunFeed>(source)) {}

  bool Make(std::string* why);
  void Route();
  void FeedEvents();
  void SlotEvents(std::vector<std::string>* out);
  void Stream(httplib::Response& response);
  void Say(const std::string& text) {
    if (say && *say) (*say)(text);
  }

  LockedSource source;
  DashboardApi api;
  SlotSource* slots;
  // Each slot's JSON as last looked at, by station and slot: the feeder's alone.
  std::map<std::pair<std::string, std::string>, std::string> slotsSeen;
  bool slotsLooked = false;
  DashboardSettings settings;
  std::unique_ptr<RunFeed> feed;
  std::unique_ptr<httplib::Server> server;
  std::string chartJs;  // the script's text; empty when it could not be read
  std::function<void(const std::string&)>* say = nullptr;
  std::thread listener;
  std::thread feeder;
  int port = 0;
  bool started = false;
  std::atomic<bool> listening{false};  // until listen_after_bind() has returned

  // The stream's events, numbered: events.front() is number firstEvent.
  std::mutex eventsMutex;
  std::condition_variable eventsChanged;
  std::deque<std::string> events;
  uint64_t firstEvent = 0;
  bool stopping = false;
  std::atomic<int> streams{0};
};

bool DashboardServer::Impl::Make(std::string* why) {
  if (settings.tlsCert.empty() != settings.tlsKey.empty()) {
    *why = "HTTPS needs both --tls-cert and --tls-key";
    return false;
  }
  if (settings.tlsCert.empty()) {
    server = std::make_unique<httplib::Server>();
    return true;
  }
  std::string failure;
  auto setup = [this, &failure](SSL_CTX& context) {
    SSL_CTX_set_min_proto_version(&context, TLS1_2_VERSION);
    SSL_CTX_set_options(&context,
                        SSL_OP_NO_COMPRESSION | SSL_OP_NO_SESSION_RESUMPTION_ON_RENEGOTIATION);
    SSL_CTX_set_default_passwd_cb(&context, NoPassphrase);
    if (SSL_CTX_use_certificate_chain_file(&context, settings.tlsCert.c_str()) != 1) {
      failure = "the certificate " + settings.tlsCert + " cannot be read (" + OpenSslReason() + ")";
      return false;
    }
    if (SSL_CTX_use_PrivateKey_file(&context, settings.tlsKey.c_str(), SSL_FILETYPE_PEM) != 1) {
      failure = "the key " + settings.tlsKey + " cannot be read (" + OpenSslReason() +
                "; a key with a passphrase is not taken)";
      return false;
    }
    if (SSL_CTX_check_private_key(&context) != 1) {
      ERR_clear_error();
      failure = "the key " + settings.tlsKey + " is not the certificate's";
      return false;
    }
    return true;
  };
  server = std::make_unique<httplib::SSLServer>(setup);
  if (!server->is_valid()) {
    *why = failure.empty() ? "HTTPS cannot be set up (" + OpenSslReason() + ")" : failure;
    server.reset();
    return false;
  }
  return true;
}

void DashboardServer::Impl::Route() {
  server->new_task_queue = [] { return new httplib::ThreadPool(kServerThreads); };
  server->set_payload_max_length(64 * 1024);
  server->set_keep_alive_timeout(2);
  server->set_default_headers({{"X-Content-Type-Options", "nosniff"},
                               {"Referrer-Policy", "no-referrer"},
                               {"Cache-Control", "no-store"}});
  if (settings.token) {
    server->set_pre_routing_handler(
        [this](const httplib::Request& request, httplib::Response& response) {
          if (settings.token->Admits(request.get_header_value("Authorization"),
                                     request.get_header_value("Cookie"))) {
            return httplib::Server::HandlerResponse::Unhandled;
          }
          response.status = 401;
          response.set_header("WWW-Authenticate", "Bearer");
          // A browser is shown where to type the token; a script is told what is missing.
          if (request.path.rfind("/api/", 0) == 0) {
            response.set_content(ErrorJson("this dashboard asks for its token: "
                                           "\"Authorization: Bearer TOKEN\" or the page's cookie"),
                                 kJson);
          } else {
            response.set_header("Content-Security-Policy", kPagePolicy);
            response.set_content(std::string(kSignInPage), kHtml);
          }
          return httplib::Server::HandlerResponse::Handled;
        });
  }
  server->Get("/", [](const httplib::Request&, httplib::Response& response) {
    response.set_header("Content-Security-Policy", kPagePolicy);
    response.set_content(std::string(kDashboardPage), kHtml);
  });
  server->Get("/api/yield", [this](const httplib::Request& request, httplib::Response& response) {
    Answer(response, api.Yield(ParamsOf(request)));
  });
  server->Get("/api/runs", [this](const httplib::Request& request, httplib::Response& response) {
    Answer(response, api.Runs(ParamsOf(request)));
  });
  server->Get("/api/runs/([^/]+)",
              [this](const httplib::Request& request, httplib::Response& response) {
                if (!request.params.empty()) {
                  Answer(response, {400, ErrorJson("a run's path takes no parameters")});
                  return;
                }
                Answer(response, api.Run(request.matches[1]));
              });
  server->Get("/api/slots", [this](const httplib::Request& request, httplib::Response& response) {
    Answer(response, request.params.empty()
                         ? api.Slots()
                         : ApiAnswer{400, ErrorJson("/api/slots takes no parameters")});
  });
  server->Get(
      "/api/stations", [this](const httplib::Request& request, httplib::Response& response) {
        Answer(response, request.params.empty()
                             ? api.Stations()
                             : ApiAnswer{400, ErrorJson("/api/stations takes no parameters")});
      });
  server->Get("/chart.js", [this](const httplib::Request&, httplib::Response& response) {
    if (chartJs.empty()) {
      Answer(response, {404, ErrorJson("Chart.js is not installed on the dashboard's machine "
                                       "(Debian: libjs-chart.js)")});
      return;
    }
    response.set_header("Cache-Control", "max-age=86400");
    response.set_content(chartJs, "application/javascript; charset=utf-8");
  });
  server->Get("/api/stream", [this](const httplib::Request& request, httplib::Response& response) {
    if (!request.params.empty()) {
      Answer(response, {400, ErrorJson("/api/stream takes no parameters")});
      return;
    }
    Stream(response);
  });
  // Whatever no route answered (and the library's own refusals) in the API's words.
  server->set_error_handler([](const httplib::Request&, httplib::Response& response) {
    if (!response.body.empty()) return;
    response.set_content(ErrorJson(response.status == 404
                                       ? std::string("no such path")
                                       : "refused (HTTP " + std::to_string(response.status) + ")"),
                         kJson);
  });
  server->set_exception_handler(
      [this](const httplib::Request& request, httplib::Response& response, std::exception_ptr) {
        Say("dashboard: " + request.path + " could not be answered");
        Answer(response, {500, ErrorJson("the dashboard could not answer this")});
      });
}

// A stream of server-sent events: the runs as they are kept, and a comment when there is
// nothing to say for settings.keepAlive. It ends when the server stops or the page goes.
void DashboardServer::Impl::Stream(httplib::Response& response) {
  if (streams.fetch_add(1) >= kMaxStreams) {
    streams.fetch_sub(1);
    Answer(response, {503, ErrorJson("too many pages follow the line now; try again later")});
    return;
  }
  struct Position {
    uint64_t next = 0;
    bool greeted = false;
    std::chrono::steady_clock::time_point lastSent{};
  };
  auto position = std::make_shared<Position>();
  {
    std::lock_guard lock(eventsMutex);
    position->next = firstEvent + events.size();
  }
  response.set_header("X-Accel-Buffering", "no");
  response.set_chunked_content_provider(
      "text/event-stream",
      [this, position](size_t, httplib::DataSink& sink) {
        std::string out;
        if (!position->greeted) {
          // How soon the browser comes back after a stream broke.
          out = "retry: 2000\n: morlane dashboard\n\n";
          position->greeted = true;
        } else {
          std::unique_lock lock(eventsMutex);
          eventsChanged.wait_until(lock, position->lastSent + settings.keepAlive, [&] {
            return stopping || position->next < firstEvent + events.size();
          });
          if (stopping) return false;
          position->next = std::max(position->next, firstEvent);
          for (; position->next < firstEvent + events.size(); ++position->next) {
            out += events[position->next - firstEvent];
          }
        }
        if (out.empty()) out = ": keep-alive\n\n";
        position->lastSent = std::chrono::steady_clock::now();
        return sink.write(out.data(), out.size());
      },
      [this](bool) { streams.fetch_sub(1); });
}

// A `slot` event for each slot whose state differs from the last look (the first look
// only learns them: a page reads them whole when it opens). A feed that is told of new live
// states ends its wait for them, and the slots are looked at least every second otherwise.
void DashboardServer::Impl::SlotEvents(std::vector<std::string>* out) {
  if (!slots) return;
  for (const LiveStation& station : slots->Stations()) {
    for (const LiveSlot& slot : station.slots) {
      std::string text = LiveSlotJson(station, slot);
      std::string& seen = slotsSeen[{station.station, slot.slot}];
      if (seen == text) continue;
      if (slotsLooked) out->push_back("event: slot\ndata: " + text + "\n\n");
      seen = std::move(text);
    }
  }
  slotsLooked = true;
}

void DashboardServer::Impl::FeedEvents() {
  std::vector<std::string> learnt;
  SlotEvents(&learnt);
  for (;;) {
    {
      std::lock_guard lock(eventsMutex);
      if (stopping) return;
    }
    std::vector<std::string> fresh;
    const std::vector<RunRecord> runs = feed->Next(std::chrono::seconds(1));
    if (!runs.empty()) api.RunsChanged();
    for (const RunRecord& run : runs) {
      std::string record = RunRecordJson(run);
      while (!record.empty() && record.back() == '\n') record.pop_back();
      fresh.push_back("event: run\ndata: " + record + "\n\n");
    }
    SlotEvents(&fresh);
    if (fresh.empty()) continue;
    {
      std::lock_guard lock(eventsMutex);
      for (std::string& event : fresh) events.push_back(std::move(event));
      while (events.size() > kKeptEvents) {
        events.pop_front();
        ++firstEvent;
      }
    }
    eventsChanged.notify_all();
  }
}

DashboardServer::DashboardServer(RecordSource& source, SlotSource* slots,
                                 DashboardSettings settings, std::unique_ptr<RunFeed> feed)
    : impl_(std::make_unique<Impl>(source, slots, std::move(settings), std::move(feed))) {
  impl_->say = &say;
  auto said = [this](const std::string& what) {
    return [this, what](const std::string& error) {
      if (!say) return;
      say(error.empty() ? "dashboard: the records can be read again"
                        : "dashboard: " + what + ": " + error);
    };
  };
  impl_->api.onError = said("the records cannot be read");
  impl_->feed->onError = said("new runs cannot be read");
}

DashboardServer::~DashboardServer() {
  Stop();
}

bool DashboardServer::Start(std::string* why, bool* settingsRefused) {
  Impl& impl = *impl_;
  if (settingsRefused) *settingsRefused = false;
  if (impl.started) return false;
  if (!impl.Make(why)) {
    if (settingsRefused) *settingsRefused = true;
    return false;
  }
  if (ReadWholeFile(impl.settings.chartJs, &impl.chartJs, kChartJsLimit) != WholeFile::Read) {
    impl.chartJs.clear();
    impl.Say("Chart.js cannot be read at " + impl.settings.chartJs +
             ": the page shows its figures without charts (Debian: install libjs-chart.js)");
  }
  impl.Route();
  const ListenAddress& listen = impl.settings.listen;
  errno = 0;
  if (listen.port == 0) {
    impl.port = impl.server->bind_to_any_port(listen.host);
  } else if (impl.server->bind_to_port(listen.host, listen.port)) {
    impl.port = listen.port;
  } else {
    impl.port = -1;
  }
  if (impl.port <= 0) {
    const int error = errno;
    *why = "cannot listen on " + listen.host + ":" + std::to_string(listen.port) +
           (error ? " (" + std::string(std::strerror(error)) + ")" : std::string());
    return false;
  }
  impl.started = true;
  impl.feeder = std::thread([&impl] { impl.FeedEvents(); });
  impl.listening = true;
  impl.listener = std::thread([&impl] {
    impl.server->listen_after_bind();
    impl.listening = false;
  });
  return true;
}

int DashboardServer::Port() const {
  return impl_->port;
}

std::string DashboardServer::Url() const {
  const std::string& host = impl_->settings.listen.host;
  return std::string(impl_->settings.tlsCert.empty() ? "http" : "https") + "://" +
         (host.find(':') != std::string::npos ? "[" + host + "]" : host) + ":" +
         std::to_string(impl_->port) + "/";
}

void DashboardServer::Stop() {
  Impl& impl = *impl_;
  if (!impl.started) return;
  impl.started = false;
  {
    std::lock_guard lock(impl.eventsMutex);
    impl.stopping = true;
  }
  impl.eventsChanged.notify_all();
  impl.feed->Interrupt();
  impl.feeder.join();
  // A stop before the listener has begun would be lost, and a second one is not allowed:
  // it is said once, as soon as the server runs.
  bool stopped = false;
  while (impl.listening) {
    if (!stopped && impl.server->is_running()) {
      impl.server->stop();
      stopped = true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  impl.listener.join();
}

}  // namespace morlane::web
