// The line's dashboard: the real program serving a station's store and a real PostgreSQL
// line database, asked by an HTTP client as a page and other tools ask it.
#include <httplib.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "e2e/line_server.h"
#include "flash/test_image_maker.h"
#include "link/sha256.h"
#include "records/line_database.h"
#include "records/live_state.h"
#include "records/record_store.h"
#include "sample_runs.h"
#include "support/process.h"
#include "ui/json_text.h"

namespace morlane {
namespace {

using test::ProcessResult;
using test::RunProcess;
using test::SplitLines;
using test::TempDir;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

constexpr const char* kToken = "3f9c2a7be41d6085c7a1e2f4b9d03c6e";

// The port a program serves its dashboard on, from the line it prints once it serves; 0
// when it does not serve within 30 s.
int ServedPort(test::Background& program) {
  if (!program.WaitFor("stdout", "dashboard: serving ", 30)) return 0;
  const std::string out = program.Text("stdout");
  return std::atoi(out.c_str() + out.find(':', out.find("://") + 3) + 1);
}

// morlane-cli dashboard in the background on a port the system chose, read from the line
// it prints once it serves.
class Dashboard {
 public:
  explicit Dashboard(std::vector<std::string> source, std::vector<std::string> options = {})
      : process_(Argv(source, options), logs_), port_(ServedPort(process_)) {}
  int Port() const { return port_; }
  std::string Err() const { return process_.Text("stderr"); }
  httplib::Client Client() const {
    httplib::Client client("127.0.0.1", port_);
    client.set_connection_timeout(std::chrono::seconds(5));
    client.set_read_timeout(std::chrono::seconds(20));
    return client;
  }
  // Ctrl-C: the exit status, -1 when it did not end.
  int Stop() {
    process_.Interrupt();
    return process_.Wait(20);
  }

 private:
  static std::vector<std::string> Argv(std::vector<std::string> source,
                                       const std::vector<std::string>& options) {
    source.insert(source.begin(), MORLANE_CLI);
    source.insert(source.end(), {"dashboard", "--listen", "127.0.0.1:0"});
    source.insert(source.end(), options.begin(), options.end());
    return source;
  }
  TempDir logs_;
  test::Background process_;
  int port_ = 0;
};

// A page's stream, followed on a thread of its own until the dashboard ends it.
class StreamFollower {
 public:
  explicit StreamFollower(const Dashboard& dashboard)
      : thread_([this, &dashboard] {
          httplib::Client client = dashboard.Client();
          client.Get("/api/stream", [this](const char* data, size_t length) {
            std::lock_guard lock(mutex_);
            received_.append(data, length);
            return !leaving_;
          });
        }) {}
  // A test that failed early leaves a stream open: it is let go at its next keep-alive.
  ~StreamFollower() {
    leaving_ = true;
    thread_.join();
  }
  // Whether text came within 15 s.
  bool WaitFor(const std::string& text) {
    for (int i = 0; i < 300; ++i) {
      if (Received().find(text) != std::string::npos) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
  }
  std::string Received() {
    std::lock_guard lock(mutex_);
    return received_;
  }

 private:
  std::mutex mutex_;
  std::string received_;
  std::atomic<bool> leaving_{false};
  std::thread thread_;
};

ProcessResult Records(const std::vector<std::string>& source, std::vector<std::string> command) {
  std::vector<std::string> argv{MORLANE_CLI};
  argv.insert(argv.end(), source.begin(), source.end());
  argv.push_back("records");
  argv.insert(argv.end(), command.begin(), command.end());
  return RunProcess(argv, "", 60);
}

// What `records` prints, a JSON value a line, as the API's array.
std::string AsArray(const std::string& lines) {
  std::string array = "[";
  for (const std::string& line : SplitLines(lines)) array += (array.size() > 1 ? ",\n" : "") + line;
  return array + "]";
}

void MakeImage(const TempDir& dir) {
  dir.Write("Master.bin", test::MakeInverterImage({{0x2010, test::Words(3, 0x4000)}}));
}

// A run that passed, or all it said.
::testing::AssertionResult Passed(const ProcessResult& run) {
  if (run.status == 0) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "exit " << run.status << "\n" << run.out << run.err;
}

ProcessResult SingleRun(const TempDir& dir, const std::string& unitId) {
  return RunProcess(
      {MORLANE_CLI, "--simulate", "--dir", dir.Path(), "--records", dir.File("out"), "--unit-id",
       "COM1=" + unitId, "flash", dir.File("Master.bin"), "--cpu", "master"},
      "", 90);
}

// Every answer of the API over a source equals what `records` prints from it, the same
// filters taken the same way; a query it cannot read is a 400 that says why and never shows
// the database's words.
void ExpectTheRecordsAnswers(const std::vector<std::string>& source, httplib::Client& client) {
  const std::vector<std::pair<std::string, std::vector<std::string>>> lists{
      {"", {}},
      {"?result=PASS&limit=2", {"--result", "pass", "--limit", "2"}},
      {"?unit=SN-B", {"--unit", "SN-B"}},
      {"?station=nowhere", {"--station", "nowhere"}},
      {"?since=2000-01-01&until=2999-12-31", {"--since", "2000-01-01", "--until", "2999-12-31"}}};
  for (const auto& [query, options] : lists) {
    std::vector<std::string> command{"list", "--json"};
    command.insert(command.end(), options.begin(), options.end());
    httplib::Result answer = client.Get("/api/runs" + query);
    ASSERT_TRUE(answer) << query;
    EXPECT_EQ(answer->status, 200) << query;
    EXPECT_EQ(answer->body, AsArray(Records(source, command).out)) << query;
  }
  const std::vector<std::pair<std::string, std::vector<std::string>>> yields{
      {"", {}},
      {"?by=slot", {"--by", "slot"}},
      {"?by=Step&since=2000-01-01", {"--by", "step", "--since", "2000-01-01"}},
      {"?station=nowhere", {"--station", "nowhere"}}};
  for (const auto& [query, options] : yields) {
    std::vector<std::string> command{"yield", "--json"};
    command.insert(command.end(), options.begin(), options.end());
    httplib::Result answer = client.Get("/api/yield" + query);
    ASSERT_TRUE(answer) << query;
    EXPECT_EQ(answer->status, 200) << query;
    EXPECT_EQ(answer->body, AsArray(Records(source, command).out)) << query;
  }

  // A run: its record and its log, as `records show` prints them.
  const std::vector<std::string> listed = SplitLines(Records(source, {"list"}).out);
  ASSERT_FALSE(listed.empty());
  const std::string runId = listed.front().substr(0, listed.front().find('\t'));
  const std::vector<std::string> shown = SplitLines(Records(source, {"show", runId}).out);
  ASSERT_GT(shown.size(), 2u);
  std::string log;
  for (size_t i = 1; i < shown.size(); ++i) log += (i > 1 ? ", " : "") + JsonString(shown[i]);
  httplib::Result run = client.Get("/api/runs/" + runId);
  ASSERT_TRUE(run);
  EXPECT_EQ(run->status, 200);
  EXPECT_EQ(run->body, "{\"record\": " + shown[0] + ", \"log\": [" + log + "]}");

  for (const auto& [path, named] : std::vector<std::pair<std::string, std::string>>{
           {"/api/runs?limit=-1", "limit"},
           {"/api/runs?limit=99999999999", "limit"},
           {"/api/runs?since=yesterday", "since"},
           {"/api/yield?until=2026-13-45", "until"},
           {"/api/runs?result=maybe", "result"},
           {"/api/yield?by=week", "by"},
           {"/api/runs?colour=red", "colour"},
           {"/api/runs?limit=1&limit=2", "twice"},
           {"/api/runs/" + runId + "?log=no", "no parameters"}}) {
    httplib::Result answer = client.Get(path);
    ASSERT_TRUE(answer) << path;
    EXPECT_EQ(answer->status, 400) << path;
    EXPECT_THAT(answer->body, StartsWith("{\"error\": ")) << path;
    EXPECT_THAT(answer->body, HasSubstr(named)) << path;
    EXPECT_THAT(answer->body, Not(HasSubstr("SELECT"))) << path;
  }
  // A filter's text is a value, never a statement.
  httplib::Result injected = client.Get("/api/runs?unit=%27%3B%20DELETE%20FROM%20runs%3B--");
  ASSERT_TRUE(injected);
  EXPECT_EQ(injected->status, 200);
  EXPECT_EQ(injected->body, "[]");
  for (const char* path : {"/nowhere", "/api/runs/no-such-run", "/api"}) {
    httplib::Result answer = client.Get(path);
    ASSERT_TRUE(answer) << path;
    EXPECT_EQ(answer->status, 404) << path;
    EXPECT_THAT(answer->body, StartsWith("{\"error\": ")) << path;
  }
  httplib::Result slots = client.Get("/api/slots");
  ASSERT_TRUE(slots);
  EXPECT_EQ(slots->body, "[]");
  EXPECT_EQ(SplitLines(Records(source, {"list"}).out).size(), listed.size());
}

TEST(DashboardE2e, AnswersAsTheRecordsCommandsDoFromAStoreAndFromTheLineDatabase) {
  TempDir dir;
  MakeImage(dir);
  test::LineServer server(dir);
  ASSERT_EQ(server.Start(), 0) << server.Error();
  auto gang = [&](std::vector<std::string> more) {
    std::vector<std::string> argv{MORLANE_CLI,     "--simulate-units", "2",
                                  "--dir",         dir.Path(),         "--records",
                                  dir.File("out"), "--records-db",     server.Url()};
    argv.insert(argv.end(), more.begin(), more.end());
    argv.insert(argv.end(), {"gang", "flash", dir.File("Master.bin"), "--cpu", "master"});
    return RunProcess(argv, "", 90);
  };
  ASSERT_EQ(gang({"--unit-id", "COM1=SN-A", "--unit-id", "COM2=SN-B"}).status, 0);
  // A unit that fails its erase, for the figures of a failed step.
  ProcessResult failing = gang(
      {"--unit-id", "COM1=SN-C", "--unit-id", "COM2=SN-B", "--simulate-fault", "2:refuse-erase"});
  ASSERT_EQ(failing.status, 1) << failing.err;

  for (const std::vector<std::string>& source :
       {std::vector<std::string>{"--records", dir.File("out")},
        std::vector<std::string>{"--records-db", server.Url()}}) {
    SCOPED_TRACE(source[0]);
    Dashboard dashboard(source);
    ASSERT_GT(dashboard.Port(), 0) << dashboard.Err();
    httplib::Client client = dashboard.Client();
    ExpectTheRecordsAnswers(source, client);
    EXPECT_EQ(dashboard.Stop(), 0) << dashboard.Err();
    EXPECT_THAT(dashboard.Err(), HasSubstr("dashboard: stopped"));
  }
}

// A page that follows the stream is told of a run as soon as it is kept, with the record
// `records show` prints; stopping the dashboard ends the stream.
TEST(DashboardE2e, TheStreamTellsOfANewRunAsItIsKept) {
  TempDir dir;
  MakeImage(dir);
  ASSERT_TRUE(Passed(SingleRun(dir, "SN-1")));
  Dashboard dashboard({"--records", dir.File("out")});
  ASSERT_GT(dashboard.Port(), 0) << dashboard.Err();

  StreamFollower follower(dashboard);
  ASSERT_TRUE(follower.WaitFor("retry: ")) << dashboard.Err();
  // The figures as a page reads them before the run: made once, and answered again.
  httplib::Client client = dashboard.Client();
  httplib::Result before = client.Get("/api/yield");
  ASSERT_TRUE(before);
  EXPECT_THAT(before->body, HasSubstr("\"runs\": 1,"));
  // Only what is kept from now on is told.
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  ASSERT_TRUE(Passed(SingleRun(dir, "SN-2")));
  const auto kept = std::chrono::steady_clock::now();
  EXPECT_TRUE(follower.WaitFor("\"unit_id\": \"SN-2\"")) << dashboard.Err();
  EXPECT_LT(std::chrono::steady_clock::now() - kept, std::chrono::seconds(3));
  // Once the run is told, the figures are made afresh.
  httplib::Result after = client.Get("/api/yield");
  ASSERT_TRUE(after);
  EXPECT_EQ(after->body, AsArray(Records({"--records", dir.File("out")}, {"yield", "--json"}).out));
  EXPECT_THAT(after->body, HasSubstr("\"runs\": 2,"));
  const std::string newest = SplitLines(Records({"--records", dir.File("out")}, {"list"}).out)[0];
  const std::string record = SplitLines(
      Records({"--records", dir.File("out")}, {"show", newest.substr(0, newest.find('\t'))})
          .out)[0];

  EXPECT_EQ(dashboard.Stop(), 0) << dashboard.Err();
  EXPECT_THAT(follower.Received(), HasSubstr("event: run\ndata: " + record + "\n\n"));
  EXPECT_THAT(follower.Received(), Not(HasSubstr("SN-1")));
}

// Over the line's database the dashboard hears at once what the stations tell the line: a
// slot's new state, and a run that reached the line hours after it ran (a station's backlog
// sent once the line was back), which no look at the last minutes would find.
TEST(DashboardE2e, TheLinesNewsReachTheStreamAtOnce) {
  TempDir dir;
  test::LineServer server(dir);
  ASSERT_EQ(server.Start(), 0) << server.Error();
  LineDatabase line(server.Url());
  std::string error;
  ASSERT_TRUE(line.CheckWritable(&error)) << error;
  LiveStation station{"line2-st1", 0, "2026-12-10T08:00:00+00:00", true, {}};
  station.slots.push_back(
      LiveSlot{"A", "idle", std::nullopt, "", 0, "2026-12-10T08:00:00+00:00", "Ana", {}});
  ASSERT_TRUE(line.ReportLive(station, &error)) << error;

  Dashboard dashboard({"--records-db", server.Url()});
  ASSERT_GT(dashboard.Port(), 0) << dashboard.Err();
  StreamFollower follower(dashboard);
  ASSERT_TRUE(follower.WaitFor("retry: ")) << dashboard.Err();
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  EXPECT_THAT(follower.Received(), Not(HasSubstr("event: slot")));

  station.slots[0] =
      LiveSlot{"A", "running", "SN-9", "burn master", 40, "2026-12-10T08:00:05+00:00", "Ana", {}};
  ASSERT_TRUE(line.ReportLive(station, &error)) << error;
  auto told = std::chrono::steady_clock::now();
  EXPECT_TRUE(
      follower.WaitFor("event: slot\ndata: " + LiveSlotJson(station, station.slots[0]) + "\n\n"))
      << follower.Received() << dashboard.Err();
  EXPECT_LT(std::chrono::steady_clock::now() - told, std::chrono::seconds(2));

  std::unique_ptr<RecordStore> store =
      RecordStore::Open(dir.File("out"), RecordStore::Mode::Write, &error);
  ASSERT_TRUE(store) << error;
  // Started three hours ago, on a station that was cut off from the line since.
  const int64_t now = std::chrono::duration_cast<std::chrono::milliseconds>(
                          std::chrono::system_clock::now().time_since_epoch())
                          .count();
  std::mt19937 random(1);
  RunRecord late = sample::SampleRun(0, 1, now - 3 * 3600000, now, 1, random);
  late.unitId = "SN-LATE";
  ASSERT_TRUE(store->Commit(late, "late\n", &error)) << error;
  ASSERT_TRUE(line.SendBacklog(*store).error.empty());
  told = std::chrono::steady_clock::now();
  EXPECT_TRUE(follower.WaitFor("\"unit_id\": \"SN-LATE\"")) << dashboard.Err();
  EXPECT_LT(std::chrono::steady_clock::now() - told, std::chrono::seconds(2));
  EXPECT_EQ(dashboard.Stop(), 0) << dashboard.Err();
}

// Beyond loopback every request carries the token, as a bearer or as the page's cookie, over
// HTTPS with the line's certificate.
TEST(DashboardE2e, TheTokenGuardsEveryRequestOverHttps) {
  TempDir dir;
  MakeImage(dir);
  ASSERT_TRUE(Passed(SingleRun(dir, "SN-1")));
  dir.Write("token", std::string(kToken) + "\n");
  ProcessResult made = RunProcess(
      {"/usr/bin/openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt",
       "ec_paramgen_curve:prime256v1", "-nodes", "-days", "2", "-subj", "/CN=localhost", "-addext",
       "subjectAltName=IP:127.0.0.1", "-keyout", dir.File("key.pem"), "-out", dir.File("cert.pem")},
      "", 60);
  ASSERT_EQ(made.status, 0) << made.err;
  Dashboard dashboard({"--records", dir.File("out")},
                      {"--token-file", dir.File("token"), "--tls-cert", dir.File("cert.pem"),
                       "--tls-key", dir.File("key.pem")});
  ASSERT_GT(dashboard.Port(), 0) << dashboard.Err();

  httplib::SSLClient client("127.0.0.1", dashboard.Port());
  client.set_ca_cert_path(dir.File("cert.pem").c_str());
  client.enable_server_certificate_verification(true);
  client.set_read_timeout(std::chrono::seconds(20));
  auto get = [&](const std::string& path, const httplib::Headers& headers) {
    httplib::Result answer = client.Get(path.c_str(), headers);
    return answer ? std::make_pair(answer->status, answer->body)
                  : std::make_pair(-1, std::string());
  };
  const std::string wrong(kToken + std::string("0"));
  for (const httplib::Headers& refused :
       {httplib::Headers{}, httplib::Headers{{"Authorization", "Bearer " + wrong}},
        httplib::Headers{{"Authorization", std::string("Basic ") + kToken}},
        httplib::Headers{{"Cookie", "morlane_token=" + std::string(kToken).substr(1)}}}) {
    auto [status, body] = get("/api/slots", refused);
    EXPECT_EQ(status, 401);
    EXPECT_THAT(body, HasSubstr("token"));
  }
  EXPECT_EQ(get("/api/slots", {{"Authorization", std::string("Bearer ") + kToken}}),
            std::make_pair(200, std::string("[]")));
  EXPECT_EQ(get("/api/slots", {{"Cookie", std::string("theme=dark; morlane_token=") + kToken}}),
            std::make_pair(200, std::string("[]")));
  // A browser without the cookie is shown where to type the token.
  auto [status, page] = get("/", {});
  EXPECT_EQ(status, 401);
  EXPECT_THAT(page, HasSubstr("morlane_token="));
  EXPECT_EQ(get("/", {{"Cookie", std::string("morlane_token=") + kToken}}).first, 200);

  // Plain HTTP is not served on the HTTPS port.
  httplib::Result plain = dashboard.Client().Get("/api/slots");
  EXPECT_TRUE(!plain || plain->status != 200);
  EXPECT_EQ(dashboard.Stop(), 0) << dashboard.Err();
}

TEST(DashboardE2e, RefusesWhatItCannotServeSafely) {
  TempDir dir;
  MakeImage(dir);
  ASSERT_TRUE(Passed(SingleRun(dir, "SN-1")));
  dir.Write("short", "guessable\n");
  dir.Write("token", std::string(kToken) + "\n");
  auto dashboard = [&](std::vector<std::string> options) {
    std::vector<std::string> argv{MORLANE_CLI, "--records", dir.File("out"), "dashboard"};
    argv.insert(argv.end(), options.begin(), options.end());
    return RunProcess(argv, "", 30);
  };
  for (const auto& [options, said] : std::vector<std::pair<std::vector<std::string>, std::string>>{
           {{"--listen", "0.0.0.0:0"}, "--token-file"},
           {{"--listen", "[::]:0"}, "--token-file"},
           {{"--listen", "127.0.0.1:65536"}, "not a port"},
           {{"--listen", "127.0.0.1", "--token-file", dir.File("token")}, "ADDR:PORT"},
           {{"--listen", "0.0.0.0:0", "--token-file", dir.File("short")}, "16 characters"},
           {{"--token-file", dir.File("none")}, "cannot be read"},
           {{"--tls-cert", dir.File("token")}, "--tls-key"},
           {{"--listen", "127.0.0.1:0", "--tls-cert", dir.File("token"), "--tls-key",
             dir.File("token")},
            "certificate"}}) {
    ProcessResult refused = dashboard(options);
    EXPECT_EQ(refused.status, 2) << options[1] << ": " << refused.err;
    EXPECT_THAT(refused.err, HasSubstr(said)) << options[1];
    EXPECT_EQ(refused.out, "") << options[1];
  }
}

// The page in a real browser (Chromium driven by Selenium, tests/web/page_test.py): drawn
// from a station's records with its charts and no script error, a run's record and log
// opened, and a run kept meanwhile shown without a reload. Debian's Python, which has
// Debian's Selenium.
TEST(DashboardPage, DrawsTheLineAndShowsANewRunWithoutAReload) {
  TempDir dir;
  MakeImage(dir);
  ASSERT_TRUE(Passed(SingleRun(dir, "SN-1")));
  ProcessResult refused =
      RunProcess({MORLANE_CLI, "--simulate", "--simulate-fault", "1:refuse-erase", "--dir",
                  dir.Path(), "--records", dir.File("out"), "--unit-id", "COM1=SN-2", "flash",
                  dir.File("Master.bin"), "--cpu", "master"},
                 "", 90);
  ASSERT_EQ(refused.status, 1) << refused.err;
  Dashboard dashboard({"--records", dir.File("out")});
  ASSERT_GT(dashboard.Port(), 0) << dashboard.Err();
  ProcessResult page =
      RunProcess({"/usr/bin/python3", std::string(MORLANE_SOURCE_DIR) + "/tests/web/page_test.py",
                  "http://127.0.0.1:" + std::to_string(dashboard.Port()) + "/", MORLANE_CLI,
                  "--simulate", "--dir", dir.Path(), "--records", dir.File("out"), "--unit-id",
                  "COM1=SN-3", "flash", dir.File("Master.bin"), "--cpu", "master"},
                 "", 180);
  if (page.status == 77) GTEST_SKIP() << page.out;
  EXPECT_EQ(page.status, 0) << page.out << page.err << dashboard.Err();
  EXPECT_EQ(dashboard.Stop(), 0);
}

// A station serves its own dashboard: its runs as they are kept, and its slots from memory
// as its screen shows them, until it ends.
TEST(DashboardE2e, AStationServesItsRunsAndItsSlots) {
  TempDir dir;
  MakeImage(dir);
  dir.Write("line1.toml",
            "station = \"line1-st3\"\nprocedure = \"flash\"\nimages = [ { file = "
            "\"Master.bin\", sha256 = \"" +
                FileSha256(dir.File("Master.bin")) +
                "\" } ]\nrecords = \"out\"\n[[slot]]\nname = \"A\"\nport = "
                "\"/dev/ttyS0\"\n");
  test::Background station({MORLANE_CLI, "--simulate-units", "1", "station", "--profile",
                            dir.File("line1.toml"), "--dashboard", "127.0.0.1:0"},
                           dir);
  const int port = ServedPort(station);
  ASSERT_GT(port, 0) << station.Text("stderr");
  httplib::Client client("127.0.0.1", port);
  client.set_read_timeout(std::chrono::seconds(20));
  auto body = [&](const std::string& path) {
    httplib::Result answer = client.Get(path);
    return answer && answer->status == 200 ? answer->body : "no answer to " + path;
  };
  EXPECT_THAT(body("/api/slots"),
              HasSubstr("\"station\": \"line1-st3\", \"slot\": \"A\", \"state\": \"idle\""));
  station.Type("SN1");
  ASSERT_TRUE(station.WaitFor("stdout", "A SN1 PASS", 60)) << station.Text("stderr");
  EXPECT_THAT(body("/api/slots"), HasSubstr("\"state\": \"pass\", \"unit_id\": \"SN1\""));
  EXPECT_THAT(body("/api/runs"), HasSubstr("\"unit_id\": \"SN1\""));
  EXPECT_THAT(body("/api/stations"), HasSubstr("\"station\": \"line1-st3\", \"backlog\": 0"));
  station.EndInput();
  EXPECT_EQ(station.Wait(60), 0) << station.Text("stderr");
  EXPECT_FALSE(client.Get("/api/slots"));
}

}  // namespace
}  // namespace morlane
